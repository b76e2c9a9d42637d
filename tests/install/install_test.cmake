# Installs the build into a fresh prefix, builds the host in host/ against it with CMake and with
# pkg-config, puts both programs in the prefix's bin/ and runs them there.
# -D BUILD_DIR, SOURCE_DIR, WORK_DIR, CXX, PKG_CONFIG
cmake_minimum_required(VERSION 3.25)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run("configure the host" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/host
  -B ${WORK_DIR}/host-build -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
run("build the host" ${CMAKE_COMMAND} --build ${WORK_DIR}/host-build)
file(COPY ${WORK_DIR}/host-build/orvex-host DESTINATION ${prefix}/bin)

file(GLOB_RECURSE pc_files ${prefix}/*/orvex-headless.pc)
list(LENGTH pc_files found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "orvex-headless.pc not installed once: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run("pkg-config" ${PKG_CONFIG} --cflags --libs orvex-headless)
separate_arguments(flags UNIX_COMMAND "${output}")
run("build the host with pkg-config" ${CXX} -std=c++20 ${SOURCE_DIR}/tests/install/host/main.cc
  ${flags} -o ${prefix}/bin/orvex-host-pc)

# The desktop port links both ways too, where it was built.
file(GLOB_RECURSE gtk_pc ${prefix}/*/orvex-gtk.pc)
if(gtk_pc)
  if(NOT EXISTS ${WORK_DIR}/host-build/orvex-gtk-host)
    message(FATAL_ERROR "orvex-gtk.pc is installed but Orvex::gtk built no host")
  endif()
  run("pkg-config for the desktop port" ${PKG_CONFIG} --cflags --libs orvex-gtk)
  separate_arguments(gtk_flags UNIX_COMMAND "${output}")
  run("build the desktop host with pkg-config" ${CXX} -std=c++20
    ${SOURCE_DIR}/tests/install/host/gtk_main.cc ${gtk_flags} -o ${WORK_DIR}/orvex-gtk-host-pc)
endif()

# A shared install's libraries are found as a host's would be from a private prefix.
get_filename_component(lib_dir ${pc_dir} DIRECTORY)
set(ENV{LD_LIBRARY_PATH} ${lib_dir})
foreach(host orvex-host orvex-host-pc)
  run("run ${host}" ${prefix}/bin/${host})
  if(NOT output MATCHES "resources ${prefix}/share/orvex")
    message(FATAL_ERROR "${host} did not find the installed resources: ${output}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
