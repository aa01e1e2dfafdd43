# SPDX-License-Identifier: GPL-3.0-or-later
# imu-decode is tested as its users run it: the built binary, through QProcess.
if(TARGET imu-decode)
    # With the window too: its recordings are checked against the decoder's.
    imu_add_test(tst_decode SOURCES tst_decode.cpp tst_decode_support.h
                 LIBS imu_frame_encoder imu_window imu_pty TIMEOUT 120)
    imu_add_test(tst_decode_port SOURCES tst_decode_port.cpp tst_decode_support.h
                 LIBS imu_frame_encoder imu_pty TIMEOUT 120)
    set(decode_tests tst_decode tst_decode_port)
    if(TARGET imu-sim)
        imu_add_test(tst_decode_sim SOURCES tst_decode_sim.cpp tst_decode_support.h
                     LIBS imu_frame_encoder TIMEOUT 120)
        target_compile_definitions(tst_decode_sim PRIVATE IMU_SIM_PATH="$<TARGET_FILE:imu-sim>")
        add_dependencies(tst_decode_sim imu-sim)
        list(APPEND decode_tests tst_decode_sim)
    endif()
    foreach(test ${decode_tests})
        target_compile_definitions(${test} PRIVATE IMU_DECODE_PATH="$<TARGET_FILE:imu-decode>")
        add_dependencies(${test} imu-decode)
    endforeach()
endif()
