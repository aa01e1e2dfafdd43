# SPDX-License-Identifier: GPL-3.0-or-later
# The Noise window: the analysis of a still test drawn and tabled, over the
# monitor's live history or a viewer's recording. Included from this folder's
# CMakeLists.txt, beside the analysis library it draws.
add_library(imu_noise_window STATIC
    ${CMAKE_CURRENT_LIST_DIR}/noisewindow.cpp ${CMAKE_CURRENT_LIST_DIR}/noisewindow.h
    ${CMAKE_CURRENT_LIST_DIR}/noiseplots.cpp ${CMAKE_CURRENT_LIST_DIR}/noiseplots.h
    ${CMAKE_CURRENT_LIST_DIR}/noisetable.cpp ${CMAKE_CURRENT_LIST_DIR}/noisetable.h)
target_include_directories(imu_noise_window PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(imu_noise_window PUBLIC imu_noise imu_history imu_recording
    Qt::Widgets Qt::PrintSupport ${imu_qcustomplot_target})
