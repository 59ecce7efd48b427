# The Windows package, build/mingw/matpack-<version>-win32.zip, made by the `package`
# target; README.md (Builds) lists what it holds.
#
# matsheet loads ../lib/matpack.dll from its bin/ folder, as in the build tree. A program
# finds its DLLs in its own folder, and lib/ is the folder a host takes the pack from, so
# bin/ carries what matsheet.exe imports (ufnutils.dll and the C++ runtime DLLs) and lib/
# the runtime DLLs matpack.dll imports; a host brings its own ufnutils.dll.
# scripts/check-windows-package.sh checks that nothing else is needed.

# The DLLs' import libraries stay out: the package is for running, not for linking.
install(TARGETS matsheet ufnutils RUNTIME DESTINATION bin ARCHIVE EXCLUDE_FROM_ALL)
install(TARGETS matpack RUNTIME DESTINATION lib ARCHIVE EXCLUDE_FROM_ALL)
install(FILES examples/tour.sheet DESTINATION examples)
install(FILES packaging/README-windows.txt DESTINATION . RENAME README.txt)
install(CODE "
  include(\"${CMAKE_CURRENT_LIST_DIR}/runtime-dlls.cmake\")
  set(strip \"\")
  if(CMAKE_INSTALL_DO_STRIP)
    set(strip \"${CMAKE_STRIP}\")
  endif()
  foreach(folder bin lib)
    matpack_install_runtime_dlls(\"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${folder}\"
      \"${CMAKE_OBJDUMP}\" \"${CMAKE_CXX_COMPILER}\" \"\${strip}\")
  endforeach()
")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)
# Without debugging information: the compiler's libstdc++-6.dll alone carries 18 MB of it.
set(CPACK_STRIP_FILES ON)
include(CPack)
