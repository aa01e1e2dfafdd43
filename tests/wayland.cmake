# SPDX-License-Identifier: GPL-3.0-or-later
# The window on a private headless Weston (skipped without one); any warning,
# the platform plugin's too, fails it. Drawing wants the CPU: one desktop at a time.
add_executable(tst_wayland tst_wayland.cpp)
target_link_libraries(tst_wayland PRIVATE Qt::Test imu_demo imu_window)
add_dependencies(tst_wayland imu-sim)
add_test(NAME tst_wayland COMMAND ${PROJECT_SOURCE_DIR}/scripts/on-wayland-desktop.sh $<TARGET_FILE:tst_wayland>)
set_tests_properties(tst_wayland PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8" SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "QWARN|qt\\.qpa\\." RESOURCE_LOCK virtual_desktop TIMEOUT 120)
imu_sanitizer_environment(tst_wayland REAL_DISPLAY)
