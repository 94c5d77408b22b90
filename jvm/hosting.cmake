# Hosting the JVM: the option list, the JNI call sequences, output capture, creation and hooks.
korvane_portable_library(korvane_hosting_core capture_buffer.cpp jvm_options.cpp)
foreach(variant korvane_hosting_core korvane_hosting_core_san)
    if(TARGET ${variant})
        target_include_directories(${variant} PUBLIC ${KORVANE_JNI_INCLUDE})
    endif()
endforeach()
target_link_libraries(korvane_hosting_core PUBLIC korvane_launch_core)

if(WIN32)
    add_library(korvane_hosting_win STATIC invocation.cpp capture_win.cpp jvm_create_win.cpp jvm_hooks_win.cpp
                host_os_win.cpp ${CMAKE_SOURCE_DIR}/archives/cleanup_win.cpp)
    target_link_libraries(korvane_hosting_win PUBLIC korvane_hosting_core korvane_jvm_win korvane_ui korvane_launcher_win)
else()
    korvane_native_test(hosting_core_test capture_buffer_test.cpp)
    target_link_libraries(hosting_core_test PRIVATE korvane_hosting_core_san)
endif()
