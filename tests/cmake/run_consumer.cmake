# cmake -P script: builds and runs the consumer project both ways (installed,
# it compiles every installed header alone too).
# LUMENFOLD_SOURCE, LUMENFOLD_BUILD (a built tree to install), CONSUMER, WORK,
# CXX, GENERATOR, PYTHON and PYTHONDIR (the package directory under the
# prefix) come from the test's command line.
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
  cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
  run(${CMAKE_COMMAND} --build ${dir} -j ${jobs})
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
# The Highway kernel templates stay in the source tree.
file(GLOB_RECURSE kernels ${WORK}/prefix/*-inl.h)
if(kernels)
  message(FATAL_ERROR "kernel templates installed: ${kernels}")
endif()
build_and_run(installed -DCMAKE_PREFIX_PATH=${WORK}/prefix)
if(NOT EXISTS ${WORK}/installed/consumer_c)
  message(FATAL_ERROR "the installed package has no lumenfold::python")
endif()

# The installed package imports with only its prefix directory on the path, and
# the library it maps is the one installed with it, not the build tree's; so
# it does from wherever the prefix is moved.
function(import_from prefix)
  set(site ${prefix}/${PYTHONDIR})
  run(${CMAKE_COMMAND} -E env PYTHONPATH=${site} PYTHONDONTWRITEBYTECODE=1 ${PYTHON} -c "
import sys, lumenfold_python as lf
site = sys.argv[1] + '/'
maps = {line.split()[-1] for line in open('/proc/self/maps') if 'liblumenfold_python' in line}
assert lf.__file__.startswith(site) and maps and all(m.startswith(site) for m in maps), (lf.__file__, maps)
assert lf.sma(2, [1.0, 3.0, 7.0]) == [1.0, 2.0, 5.0]
" ${site})
  message(STATUS "installed: the Python package imported from ${site}")
endfunction()

import_from(${WORK}/prefix)
file(RENAME ${WORK}/prefix ${WORK}/moved)
import_from(${WORK}/moved)
