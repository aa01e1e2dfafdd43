# SPDX-License-Identifier: GPL-3.0-or-later
# The simulated board as a program (captures, faults, command line) and on
# its pseudo-terminal (reset, reopening, signals). They run the built imu-sim.
foreach(test tst_sim tst_sim_pty)
    imu_add_test(${test} SOURCES ${test}.cpp tst_sim_support.h LIBS imu_sim_core imu_frame_encoder imu_pty TIMEOUT 120)
    target_compile_definitions(${test} PRIVATE IMU_SIM_PATH="$<TARGET_FILE:imu-sim>")
    add_dependencies(${test} imu-sim)
endforeach()
# A replayed recording is checked against imu-decode's reading of it.
if(TARGET imu-decode)
    target_compile_definitions(tst_sim PRIVATE IMU_DECODE_PATH="$<TARGET_FILE:imu-decode>")
    add_dependencies(tst_sim imu-decode)
endif()
# The still board's figures read back by imu-noise, from 30 s at the link's rate.
if(TARGET imu-noise)
    target_compile_definitions(tst_sim PRIVATE IMU_NOISE_PATH="$<TARGET_FILE:imu-noise>")
    add_dependencies(tst_sim imu-noise)
    set_tests_properties(tst_sim PROPERTIES TIMEOUT 240)
endif()
