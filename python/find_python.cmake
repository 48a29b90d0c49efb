# Finds the Python the module is built for (Debian's /usr/bin/python3 unless
# Python_EXECUTABLE names another, as pip's build does) and pybind11 for it;
# KCENTER_PYBIND11_FOUND says whether both are there.
if(NOT Python_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python the kcenter module is built for")
endif()
find_package(Python 3.7 COMPONENTS Interpreter Development.Module QUIET)
set(KCENTER_PYBIND11_FOUND OFF)
if(Python_FOUND)
  # pybind11 finds Python through FindPython, which has found it already.
  find_package(pybind11 2.6 CONFIG QUIET)
  if(pybind11_FOUND)
    set(KCENTER_PYBIND11_FOUND ON)
  endif()
endif()
