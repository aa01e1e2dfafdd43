# SPDX-License-Identifier: GPL-3.0-or-later
# The demo's simulated board in the monitor's window (offscreen).
imu_add_test(tst_demo SOURCES tst_demo.cpp LIBS imu_demo imu_window TIMEOUT 120)
target_compile_definitions(tst_demo PRIVATE IMU_DEMO_PATH="$<TARGET_FILE:imu-monitor-demo>")
add_dependencies(tst_demo imu-sim imu-monitor-demo)
