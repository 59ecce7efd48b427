# Run at install time: copies beside the programs and DLLs of an installed folder every
# DLL they import that the cross compiler supplies (its C++ runtime: libstdc++,
# libgcc_s, and whatever those import in turn), so each file finds its imports in its
# own folder on a machine that has no compiler. Imports the compiler does not know, the
# Windows system DLLs and the host's utility library, are left to the system and the
# host.
#
#   matpack_install_runtime_dlls(FOLDER OBJDUMP COMPILER STRIP)
#
# STRIP, when not empty, is the strip program run on each copied DLL.
function(matpack_install_runtime_dlls folder objdump compiler strip)
  file(GLOB pending "${folder}/*.dll" "${folder}/*.exe")
  while(pending)
    list(POP_FRONT pending file)
    execute_process(COMMAND "${objdump}" -p "${file}" OUTPUT_VARIABLE dump
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    foreach(import ${imports})
      string(REPLACE "DLL Name: " "" name "${import}")
      if(EXISTS "${folder}/${name}")
        continue()
      endif()
      # The compiler names the file it would link against, or echoes the bare name when
      # it has none.
      execute_process(COMMAND "${compiler}" -print-file-name=${name} OUTPUT_VARIABLE supplied
                      OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      if(NOT IS_ABSOLUTE "${supplied}")
        continue()
      endif()
      # A copy of the file itself, under the name the importer asks for, even when the
      # compiler's is a link.
      file(REAL_PATH "${supplied}" source)
      file(INSTALL DESTINATION "${folder}" TYPE PROGRAM RENAME "${name}" FILES "${source}")
      if(strip)
        execute_process(COMMAND "${strip}" "${folder}/${name}" COMMAND_ERROR_IS_FATAL ANY)
      endif()
      list(APPEND pending "${folder}/${name}")
    endforeach()
  endwhile()
endfunction()
