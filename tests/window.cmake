imu_add_test(tst_plotter SOURCES tst_plotter.cpp LIBS imu_window)
