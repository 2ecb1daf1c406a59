# The child-process kit, built from the same sources by the test tree and by
# the benchmark's project (each includes this file).
add_library(childkit STATIC ${CMAKE_CURRENT_LIST_DIR}/childkit.cpp)
target_include_directories(childkit PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../../common)
target_link_libraries(childkit PUBLIC advapi32)
