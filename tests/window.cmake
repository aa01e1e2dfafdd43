# SPDX-License-Identifier: GPL-3.0-or-later
# The strip chart on its own, and the monitor window: its form, the port
# list, the console and the serial link over a pseudo-terminal.
imu_add_test(tst_plotter SOURCES tst_plotter.cpp LIBS imu_window TIMEOUT 120)
imu_add_test(tst_window SOURCES tst_window.cpp LIBS imu_window imu_pty TIMEOUT 180)
imu_add_test(tst_consolelayout SOURCES tst_consolelayout.cpp LIBS imu_window TIMEOUT 60)
imu_add_test(tst_consoleclock SOURCES tst_consoleclock.cpp LIBS imu_window TIMEOUT 60)
