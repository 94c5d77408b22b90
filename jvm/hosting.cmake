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

if(NOT WIN32)
    # The JNI call sequences against the real JVM of this machine (not sanitized: the JVM and
    # AddressSanitizer both want the segmentation-fault signal).
    set(probe_classes ${CMAKE_CURRENT_BINARY_DIR}/probe-classes)
    add_custom_command(
        OUTPUT ${probe_classes}/probe/Probe.class
        COMMAND ${KORVANE_JDK_HOME}/bin/javac -nowarn -d ${probe_classes} ${CMAKE_CURRENT_SOURCE_DIR}/testdata/probe/Probe.java
        DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/testdata/probe/Probe.java)
    add_custom_target(probe_classes DEPENDS ${probe_classes}/probe/Probe.class)

    add_executable(invocation_jvmtest invocation_jvmtest.cpp invocation.cpp host_os_posix.cpp
                   ${CMAKE_SOURCE_DIR}/pack/utf.cpp)
    add_dependencies(invocation_jvmtest probe_classes)
    target_compile_definitions(invocation_jvmtest PRIVATE
        KORVANE_LIBJVM="${KORVANE_JDK_HOME}/lib/server/libjvm.so" KORVANE_PROBE_CLASSES="${probe_classes}")
    target_link_libraries(invocation_jvmtest PRIVATE korvane_hosting_core korvane_ui_core GTest::gtest_main ${CMAKE_DL_LIBS})
    add_test(NAME invocation_jvmtest COMMAND invocation_jvmtest)
endif()
