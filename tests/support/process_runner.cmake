# One process runner for every suite that runs programs as processes: the
# POSIX one natively, the Windows one in the cross build under Wine.
if(WIN32)
  add_library(process_runner STATIC ${CMAKE_CURRENT_LIST_DIR}/process_runner_windows.cpp)
else()
  add_library(process_runner STATIC ${CMAKE_CURRENT_LIST_DIR}/process_runner_posix.cpp)
endif()
target_include_directories(process_runner PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(process_runner PRIVATE ${EMPCTL_WARNINGS})
