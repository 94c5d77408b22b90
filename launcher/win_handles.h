// Owning wrappers for Win32 handles: one per family, non-copyable, each knowing which value
// means "no handle".
#pragma once

#include <windows.h>

namespace korvane {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::none(); }
    Handle release() {
        Handle handle = handle_;
        handle_ = Traits::none();
        return handle;
    }
    void reset(Handle handle = Traits::none()) {
        if (handle_ != Traits::none()) Traits::close(handle_);
        handle_ = handle;
    }
    // For APIs that return the handle through a pointer.
    Handle* out() {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::none();
};

struct FileHandleTraits { // CreateFile, CreateNamedPipe: INVALID_HANDLE_VALUE means none
    using Handle = HANDLE;
    static Handle none() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
};
struct KernelHandleTraits { // events, threads, processes, mutexes: NULL means none
    using Handle = HANDLE;
    static Handle none() { return nullptr; }
    static void close(Handle h) { CloseHandle(h); }
};
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle none() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { FindClose(h); }
};
struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle none() { return nullptr; }
    static void close(Handle h) { RegCloseKey(h); }
};
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle none() { return nullptr; }
    static void close(Handle h) { CloseServiceHandle(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle none() { return nullptr; }
    static void close(Handle h) { FreeLibrary(h); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using ModuleHandle = UniqueHandle<ModuleTraits>;

} // namespace korvane
