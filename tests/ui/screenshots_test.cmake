# Runs kfwupdate-screenshots into an empty directory and checks that it wrote each picture it
# promises: the main window, the progress window and the screen.
# cmake -DPROGRAM=<kfwupdate-screenshots> -DDIRECTORY=<dir> -P screenshots_test.cmake
file(REMOVE_RECURSE "${DIRECTORY}")
execute_process(COMMAND "${PROGRAM}" "${DIRECTORY}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kfwupdate-screenshots ended with ${status}")
endif()
foreach(picture main-window.png progress-window.png screen.png)
  set(path "${DIRECTORY}/${picture}")
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "${picture} was not written")
  endif()
  file(SIZE "${path}" size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${picture} is empty")
  endif()
endforeach()
