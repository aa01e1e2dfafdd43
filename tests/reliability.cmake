# SPDX-License-Identifier: GPL-3.0-or-later
# Reliability under faults and bad input: the window's whole life (checked
# for leaks in the sanitizer build), unplug cycles, bad ports and floods.
foreach(reliability_test life unplug edges)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tst_reliability_${reliability_test}.cpp)
        imu_add_test(tst_reliability_${reliability_test}
            SOURCES tst_reliability_${reliability_test}.cpp tst_reliability_support.h
            LIBS imu_window imu_pty imu_frame_encoder
            TIMEOUT 240)
    endif()
endforeach()

# The pseudo-terminal the port tests stand on, against the serial port's lock.
imu_add_test(tst_pseudoterminal SOURCES tst_pseudoterminal.cpp
    LIBS imu_pty Qt::SerialPort TIMEOUT 60)
