# SPDX-License-Identifier: GPL-3.0-or-later
# The frame parser against the frame encoder: hand-picked cases, and a long
# generated stream with faults checked against what its generator expects.
imu_add_test(tst_parser SOURCES tst_parser.cpp LIBS imu_parser imu_frame_encoder)
imu_add_test(tst_parser_stream
    SOURCES tst_parser_stream.cpp parserstreamgenerator.cpp parserstreamgenerator.h
    LIBS imu_parser imu_frame_encoder)
