# The installed SDK: headers, the module, the tools, and a CMake package so a
# host can `find_package(DntEngine)` and link `DntEngine::dnt_engine`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(DIRECTORY ${DNT_SOURCE_ROOT}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${DNT_SOURCE_ROOT}/LICENSE ${DNT_SOURCE_ROOT}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET dnt_engine)
  target_include_directories(dnt_engine INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS dnt_engine EXPORT DntEngineTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT DntEngineTargets NAMESPACE DntEngine:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/DntEngine)
  configure_package_config_file(${DNT_SOURCE_ROOT}/cmake/DntEngineConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/DntEngineConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/DntEngine)
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/DntEngineConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/DntEngineConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/DntEngineConfigVersion.cmake
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/DntEngine)
endif()
