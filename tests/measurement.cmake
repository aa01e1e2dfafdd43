# SPDX-License-Identifier: GPL-3.0-or-later
# The measurement path: the record's text, the window fed record by record
# through a pseudo-terminal, and a long stream end to end.
imu_add_test(tst_measurement_format SOURCES tst_measurement_format.cpp LIBS imu_parser TIMEOUT 60)
imu_add_test(tst_measurement SOURCES tst_measurement.cpp tst_measurement_support.h
             LIBS imu_window imu_frame_encoder imu_pty TIMEOUT 120)
imu_add_test(tst_measurement_pty SOURCES tst_measurement_pty.cpp tst_measurement_support.h
             LIBS imu_window imu_frame_encoder imu_pty TIMEOUT 120)
