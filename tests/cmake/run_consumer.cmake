# cmake -P script: builds and runs the consumer project both ways.
# LUMENFOLD_SOURCE, LUMENFOLD_BUILD (a built tree to install), CONSUMER, WORK,
# CXX and GENERATOR come from the test's command line.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${rc}): ${command}\n${out}")
  endif()
endfunction()

function(build_and_run name)
  set(dir ${WORK}/${name})
  # No build type: lumenfold must not force one, and unoptimised it compiles quickly.
  run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${dir} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} ${ARGN})
  run(${CMAKE_COMMAND} --build ${dir} -j 3)
  run(${dir}/consumer)
  if(EXISTS ${dir}/consumer_c)
    run(${dir}/consumer_c)
    message(STATUS "${name}: core and shared library consumers ran")
  else()
    message(STATUS "${name}: core consumer ran")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
build_and_run(subdirectory -DLUMENFOLD_SOURCE=${LUMENFOLD_SOURCE})

run(${CMAKE_COMMAND} --install ${LUMENFOLD_BUILD} --prefix ${WORK}/prefix)
build_and_run(installed -DCMAKE_PREFIX_PATH=${WORK}/prefix)
if(NOT EXISTS ${WORK}/installed/consumer_c)
  message(FATAL_ERROR "the installed package has no lumenfold::python")
endif()
