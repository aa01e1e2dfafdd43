# SPDX-License-Identifier: GPL-3.0-or-later
# The strip chart on its own, and the monitor window: its form, the port
# list, the console and the serial link over a pseudo-terminal.
imu_add_test(tst_plotter SOURCES tst_plotter.cpp LIBS imu_window TIMEOUT 120)
imu_add_test(tst_window SOURCES tst_window.cpp LIBS imu_window imu_pty TIMEOUT 180)
# A recording opened from the command line.
target_compile_definitions(tst_window PRIVATE IMU_MONITOR_PATH="$<TARGET_FILE:imu-monitor>")
add_dependencies(tst_window imu-monitor)
imu_add_test(tst_consolelayout SOURCES tst_consolelayout.cpp LIBS imu_window TIMEOUT 60)
imu_add_test(tst_consoleclock SOURCES tst_consoleclock.cpp LIBS imu_window TIMEOUT 60)

# The window on a virtual desktop at every common scale, 100, 125, 150 and
# 200 %: every text whole, the charts' tick labels apart, the logo sharp, a
# record on one console line.
foreach(dpi 96 120 144 192)
    add_test(NAME tst_window_desktop_${dpi}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/on-virtual-desktop.sh $<TARGET_FILE:tst_window> wholeTextsOnDesktop fitsTheScreen)
    set_tests_properties(tst_window_desktop_${dpi} PROPERTIES
        ENVIRONMENT "IMU_DESKTOP_DPI=${dpi};LC_ALL=C.UTF-8"
        SKIP_RETURN_CODE 77
        # Two servers started at once by xvfb-run -a can pick the same display.
        RESOURCE_LOCK virtual_desktop
        TIMEOUT 120)
    imu_sanitizer_environment(tst_window_desktop_${dpi} REAL_DISPLAY)
endforeach()

# Pictures at 200 %; screens too small for the window (1366 x 768, 1920 x 1080 at 150 %).
add_test(NAME tst_window_pictures_2x COMMAND tst_window chartPictures chartMenuOffersPictures)
set_tests_properties(tst_window_pictures_2x PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2;LC_ALL=C.UTF-8" TIMEOUT 120)
imu_sanitizer_environment(tst_window_pictures_2x)
foreach(small 96 144)
    add_test(NAME tst_window_small_screen_${small}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/on-virtual-desktop.sh $<TARGET_FILE:tst_window> fitsTheScreen)
    set_tests_properties(tst_window_small_screen_${small} PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK virtual_desktop
        TIMEOUT 120 ENVIRONMENT "IMU_DESKTOP_DPI=${small};LC_ALL=C.UTF-8;IMU_DESKTOP_SCREEN=$<IF:$<EQUAL:${small},96>,1366x768,1920x1080>")
    imu_sanitizer_environment(tst_window_small_screen_${small} REAL_DISPLAY)
endforeach()
