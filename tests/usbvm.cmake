# SPDX-License-Identifier: GPL-3.0-or-later
# The monitor on real USB serial drivers, in a QEMU guest: tst_usb_vm runs
# inside it (built here, never run on the host), run-vm.sh boots the guest and
# plays the FTDI adapter's far side. Skipped where the guest cannot run,
# unless IMU_USB_VM_REQUIRED=1 (CI) makes that a failure. Not in the
# sanitizer build: the guest runs the same code on the same drivers, several
# times slower, for minutes of CI time and no new finding.
if(TARGET imu-sim AND TARGET imu-decode AND NOT IMU_SANITIZE)
    add_executable(tst_usb_vm usb-vm/tst_usb_vm.cpp)
    target_link_libraries(tst_usb_vm PRIVATE imu_window Qt::Test)
    target_include_directories(tst_usb_vm PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(tst_usb_vm PRIVATE
        IMU_SIM_PATH="$<TARGET_FILE:imu-sim>" IMU_DECODE_PATH="$<TARGET_FILE:imu-decode>")
    add_dependencies(tst_usb_vm imu-sim imu-decode)
    add_test(NAME usb_vm
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/usb-vm/run-vm.sh ${CMAKE_CURRENT_BINARY_DIR}/usb-vm
                     $<TARGET_FILE:tst_usb_vm> $<TARGET_FILE:imu-sim>)
    set_tests_properties(usb_vm PROPERTIES RUN_SERIAL TRUE TIMEOUT 480 SKIP_RETURN_CODE 77)
endif()
