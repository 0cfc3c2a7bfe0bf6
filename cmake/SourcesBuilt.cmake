# Every tracked .cpp is built by some target: a source added to the tree but to no target would
# never be compiled, and whatever it holds (a benchmark, a test) would silently not exist.
#
# Checked at the end of every configuration, against what git tracks (skipped when there is no git
# or no checkout, as in a source package). A configuration builds only part of the tree: what a
# folder that it does not enter holds is not its concern (fuzz/ outside the fuzz presets, tests/
# without BUILD_TESTING, bench/ without MIREBO_BENCH). A folder it enters but that leaves some of
# its sources out in this configuration says so where it decides it:
#
#   mirebo_left_out(PATH...)   files of this folder not built here; a folder's own path: every
#                              file it lists itself (not those of sub-folders with their own
#                              CMakeLists.txt)
include_guard(GLOBAL)

function(mirebo_left_out)
  foreach(path IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH path BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
    string(REGEX REPLACE "(.)/$" "\\1" path "${path}")
    set_property(GLOBAL APPEND PROPERTY MIREBO_LEFT_OUT ${path})
  endforeach()
endfunction()

# The folder whose CMakeLists.txt speaks for FILE: the nearest one above it that has one.
function(_mirebo_owner file out)
  cmake_path(GET file PARENT_PATH dir)
  while(NOT EXISTS ${dir}/CMakeLists.txt AND NOT dir STREQUAL PROJECT_SOURCE_DIR)
    cmake_path(GET dir PARENT_PATH dir)
  endwhile()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# The folders this configuration entered and the sources of their targets.
function(_mirebo_walk dir)
  set(entered ${_entered} ${dir})
  set(built ${_built})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(sources ${target} SOURCES)
    get_target_property(base ${target} SOURCE_DIR)
    if(NOT sources)
      continue()
    endif()
    foreach(source IN LISTS sources)
      if(source MATCHES "^\\$<")   # generated or conditional: not a tracked file
        continue()
      endif()
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${base} NORMALIZE)
      list(APPEND built ${source})
    endforeach()
  endforeach()
  set(_entered ${entered})
  set(_built ${built})
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    _mirebo_walk(${subdir})
  endforeach()
  set(_entered ${_entered} PARENT_SCOPE)
  set(_built ${_built} PARENT_SCOPE)
endfunction()

function(_mirebo_check_sources_built)
  find_package(Git QUIET)
  if(NOT Git_FOUND)
    return()
  endif()
  execute_process(COMMAND ${GIT_EXECUTABLE} -c core.quotePath=off ls-files -- "*.cpp"
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE tracked ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(STATUS "Not a git checkout: the check that every .cpp is built is skipped")
    return()
  endif()
  string(REPLACE "\n" ";" tracked "${tracked}")

  set(_entered)
  set(_built)
  _mirebo_walk(${PROJECT_SOURCE_DIR})
  get_property(left_out GLOBAL PROPERTY MIREBO_LEFT_OUT)

  set(unbuilt)
  foreach(file IN LISTS tracked)
    set(path ${PROJECT_SOURCE_DIR}/${file})
    if(file STREQUAL "" OR NOT EXISTS ${path} OR path IN_LIST _built OR path IN_LIST left_out)
      continue()
    endif()
    _mirebo_owner(${path} owner)
    if(owner IN_LIST _entered AND NOT owner IN_LIST left_out)
      list(APPEND unbuilt ${file})
    endif()
  endforeach()
  if(unbuilt)
    list(JOIN unbuilt "\n  " unbuilt)
    message(FATAL_ERROR "Tracked sources that no target builds:\n  ${unbuilt}\n"
      "Add each to a target; or, where this configuration leaves one out on purpose, say so "
      "there with mirebo_left_out() (cmake/SourcesBuilt.cmake).")
  endif()
endfunction()

cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _mirebo_check_sources_built)
