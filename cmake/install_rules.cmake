# What cmake --install puts in place:
#   bin/qdbf                       the command-line tool
#   lib/libmain_dll.so             the product library (bin/main_dll.dll on Windows)
#   lib/qdbase/*.a                 the engine's static libraries, for C++ programs
#   include/qdbase/<subsystem>/*.h the public headers of the engine and the dataset components
#   lib/cmake/qdbase/              the package: find_package(qdbase) gives
#                                  qdbase::engine (the whole engine, static) and
#                                  qdbase::main_dll (the product library)
# A C++ program links the engine with
#   find_package(qdbase REQUIRED)
#   target_link_libraries(app PRIVATE qdbase::engine)
# and calls qd::library::StartUnits() (library/units.h) before anything else.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QD_PACKAGE_LIBS qd_library_units qd_dataset qd_indexes qd_expressions qd_memo qd_table qd_foundation
    qd_framework qd_platform)
add_library(qd_engine_package INTERFACE)
set_target_properties(qd_engine_package PROPERTIES EXPORT_NAME engine)
# The unit list first: it refers to every subsystem (it carries no link
# dependencies of its own, since main_dll links each library whole once).
target_link_libraries(qd_engine_package INTERFACE ${QD_PACKAGE_LIBS})
# Libraries built with the sanitizers need their runtime in every program
# that links them, so the package hands the link flags on.
if(QD_SANITIZE)
  target_link_options(qd_engine_package INTERFACE -fsanitize=address,undefined)
endif()

install(TARGETS ${QD_PACKAGE_LIBS} qd_engine_package EXPORT qdbaseTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/qdbase)
install(TARGETS main_dll EXPORT qdbaseTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS qdbf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(folder platform foundation table expressions indexes memo framework dataset library)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${folder}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qdbase/${folder}
          FILES_MATCHING PATTERN "*.h" PATTERN "posix" EXCLUDE PATTERN "win32" EXCLUDE)
endforeach()

install(EXPORT qdbaseTargets NAMESPACE qdbase:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qdbase)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qdbaseConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/qdbaseConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qdbase)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qdbaseConfigVersion.cmake VERSION 1.0.0
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qdbaseConfig.cmake ${PROJECT_BINARY_DIR}/qdbaseConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qdbase)
