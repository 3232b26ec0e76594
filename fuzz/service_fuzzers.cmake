# Fuzz targets of the log service, included by fuzz/CMakeLists.txt. Each
# works in a scratch folder of its own (in memory where /dev/shm exists).
vardlix_fuzzer(document_file_fuzzer document_file_fuzzer.cpp LIBS vardlix_service)
vardlix_fuzzer(settings_fuzzer settings_fuzzer.cpp LIBS vardlix_service)
vardlix_fuzzer(daily_log_fuzzer daily_log_fuzzer.cpp LIBS vardlix_service)
