# Installs the engine from a build tree into a fresh prefix, then configures,
# builds and runs the host project against it, and checks that the shared
# library shows its face and hides the platform's internals.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... [-DCXX_COMPILER=...] [-DCXX_FLAGS=...]
#         -P tests/install/check.cmake
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "failed (${code}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

set(host_args -S "${CMAKE_CURRENT_LIST_DIR}" -B "${WORK_DIR}/host" -G Ninja
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_PREFIX_PATH=${prefix}")
if(CXX_COMPILER)
  list(APPEND host_args "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
endif()
if(CXX_FLAGS)
  list(APPEND host_args "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
endif()
run(${CMAKE_COMMAND} ${host_args})
run(${CMAKE_COMMAND} --build "${WORK_DIR}/host")
run("${WORK_DIR}/host/host" "${WORK_DIR}/host.zel")
set(host_out "${out}")
if(NOT host_out MATCHES "error 0x2809 caught" OR NOT host_out MATCHES "rows 1:first;")
  message(FATAL_ERROR "unexpected output of the host: ${host_out}")
endif()

file(GLOB library "${prefix}/lib*/libzel15rd5.so")
run(nm -D --defined-only -C ${library})
foreach(shown "zel::TDiskMgr::Open()" "zel::ZelDatabaseError(" "vtable for plat::TCollection"
        "zel::TZelQuery::ExecSQL()")
  string(FIND "${out}" "${shown}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the library does not show ${shown}")
  endif()
endforeach()
foreach(hidden "plat::FileExists(" "plat::Format[" "zel::TCacheMgr::")
  string(FIND "${out}" "${hidden}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the library shows ${hidden}, an internal")
  endif()
endforeach()
message(STATUS "installed engine found, built against and run: ${host_out}")
