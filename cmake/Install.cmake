# The install tree a host builds against: the shared library, the public
# header with exactly the headers its signatures need, kx9label, a CMake
# package (find_package(VNKX9ComFuncLabelStructure)) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(KX9_PACKAGE VNKX9ComFuncLabelStructure)
set(KX9_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${KX9_PACKAGE})
set(KX9_PUBLIC_HEADERS
  component/KX9ComFuncLabelStructure.h
  highcap/KX9DynamicLabelRecords.h
  highcap/VNRowRecords.h
  model/KX9LabelRecords.h
  model/KX9ReadDiagnostics.h
  platform/kx9platform.h
  workspace/VNDataABS.h
  workspace/VNObjectID.h)

install(TARGETS VNKX9ComFuncLabelStructure EXPORT ${KX9_PACKAGE}Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${KX9_PACKAGE})
foreach(header ${KX9_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${KX9_PACKAGE}/${folder})
endforeach()
install(TARGETS kx9label RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT ${KX9_PACKAGE}Targets NAMESPACE ${KX9_PACKAGE}:: DESTINATION ${KX9_CONFIG_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/Config.cmake.in
  ${PROJECT_BINARY_DIR}/${KX9_PACKAGE}Config.cmake INSTALL_DESTINATION ${KX9_CONFIG_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/${KX9_PACKAGE}ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/${KX9_PACKAGE}Config.cmake ${PROJECT_BINARY_DIR}/${KX9_PACKAGE}ConfigVersion.cmake
  DESTINATION ${KX9_CONFIG_DIR})

# Relocatable: the prefix is found from the file's own place.
file(RELATIVE_PATH KX9_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/VNKX9ComFuncLabelStructure.pc.in
  ${PROJECT_BINARY_DIR}/${KX9_PACKAGE}.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${KX9_PACKAGE}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
