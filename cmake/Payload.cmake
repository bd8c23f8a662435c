# Turns a folder of ten payload files into the resources of a bootstrapper:
# on Windows an .rc with ten "FILE" resources (German, Germany), elsewhere an
# assembly file that links the bytes into the program's read-only data.

# The manifest's file names, in order; the resource names are TEST1..TEST10.
set(MERLAVOX_PAYLOAD_FILES
  Merlavox.ex_ Merlavox.ch_ Liesmich.txt TrickTip.tx_ Vertrag.txt
  eztw32.DL_ Beispiel.dbmvx gdiplus.dl_ Setup.ex_ Setup.lst)

# add_bootstrapper(<target> PAYLOAD_DIR <dir> [PAYLOAD_TARGET <target>]
#                  [OMIT <resource name>...] [OUTPUT_DIR <dir>])
# OMIT leaves entries out, for builds that check what a missing one does.
function(add_bootstrapper name)
  cmake_parse_arguments(ARG "" "PAYLOAD_DIR;PAYLOAD_TARGET;OUTPUT_DIR" "OMIT" ${ARGN})
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources)
  file(MAKE_DIRECTORY ${gen})
  set(files "")
  set(index 0)
  set(asm "")
  set(decls "")
  set(table "")
  set(rc "#include <windows.h>\nLANGUAGE LANG_GERMAN, SUBLANG_GERMAN\n")
  foreach(file_name IN LISTS MERLAVOX_PAYLOAD_FILES)
    math(EXPR index "${index} + 1")
    set(res "TEST${index}")
    if(res IN_LIST ARG_OMIT)
      continue()
    endif()
    set(path "${ARG_PAYLOAD_DIR}/${file_name}")
    if(NOT ARG_PAYLOAD_TARGET AND NOT EXISTS "${path}")
      message(FATAL_ERROR "The payload folder ${ARG_PAYLOAD_DIR} lacks ${file_name}")
    endif()
    list(APPEND files "${path}")
    string(APPEND rc "${res} FILE \"${path}\"\n")
    string(APPEND asm
      ".section .rodata\n.balign 16\n.globl merlavox_res_${index}\nmerlavox_res_${index}:\n"
      ".incbin \"${path}\"\nmerlavox_res_${index}_end:\n.balign 4\n"
      ".globl merlavox_res_${index}_size\nmerlavox_res_${index}_size:\n"
      ".long merlavox_res_${index}_end - merlavox_res_${index}\n")
    string(APPEND decls
      "extern \"C\" const unsigned char merlavox_res_${index}[];\n"
      "extern \"C\" const std::uint32_t merlavox_res_${index}_size;\n")
    string(APPEND table
      "    {\"FILE\", \"${res}\", merlavox_res_${index}, &merlavox_res_${index}_size},\n")
  endforeach()

  if(WIN32)
    file(WRITE ${gen}/payload.rc "${rc}")
    set(sources ${gen}/payload.rc ${PROJECT_SOURCE_DIR}/Setup_Merlavox/Setup_Merlavox.rc)
    set_source_files_properties(${gen}/payload.rc PROPERTIES OBJECT_DEPENDS "${files}")
  else()
    string(APPEND asm ".section .note.GNU-stack,\"\",@progbits\n")
    file(WRITE ${gen}/payload.S "${asm}")
    file(WRITE ${gen}/payload_table.cpp
      "#include <cstdint>\n#include \"host/posix/embedded_resources.h\"\n${decls}"
      "extern \"C\" const host::posix::EmbeddedResource host_embedded_resources[] = {\n"
      "${table}    {nullptr, nullptr, nullptr, nullptr}};\n"
      "extern \"C\" const std::uint32_t host_embedded_resource_count =\n"
      "    sizeof host_embedded_resources / sizeof host_embedded_resources[0] - 1;\n")
    set(sources ${gen}/payload.S ${gen}/payload_table.cpp)
    set_source_files_properties(${gen}/payload.S PROPERTIES OBJECT_DEPENDS "${files}")
  endif()

  add_executable(${name} ${PROJECT_SOURCE_DIR}/Setup_Merlavox/main.cpp ${sources})
  target_link_libraries(${name} PRIVATE merlavox_bootstrap)
  if(ARG_OUTPUT_DIR)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  endif()
  if(WIN32)
    # A GUI program that stands alone: only DLLs that ship with Windows, and
    # none of the toolchain's symbols or debug sections.
    target_link_options(${name} PRIVATE -mwindows -static -static-libgcc -static-libstdc++ -s)
  endif()
  if(ARG_PAYLOAD_TARGET)
    add_dependencies(${name} ${ARG_PAYLOAD_TARGET})
  endif()
endfunction()
