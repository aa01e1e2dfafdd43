# SPDX-License-Identifier: GPL-3.0-or-later
# The noise analysis against published references, and imu-noise run as its
# users run it: the built binary, through QProcess.
if(TARGET imu_noise)
    imu_add_test(tst_noise SOURCES tst_noise.cpp LIBS imu_noise TIMEOUT 120)
    if(TARGET imu-noise)
        target_compile_definitions(tst_noise PRIVATE IMU_NOISE_PATH="$<TARGET_FILE:imu-noise>")
        add_dependencies(tst_noise imu-noise)
    endif()
    if(TARGET imu-sim)
        target_compile_definitions(tst_noise PRIVATE IMU_SIM_PATH="$<TARGET_FILE:imu-sim>")
        add_dependencies(tst_noise imu-sim)
    endif()
endif()
