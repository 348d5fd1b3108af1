# SPDX-License-Identifier: Apache-2.0
# tweenora_add_model_library(<target>
#     ARCHIVE <file>                 TorchScript archive to embed (may be produced by the build)
#     OUTPUT_DIRECTORY <dir>         where TweenoraModels.so is written
#     [EXPORT_NAME <symbol>]         exported function name (default lq_get_model_A)
#     [EMBED ASSEMBLER|SOURCE]       how the bytes get in (default TWEENORA_MODEL_EMBED)
#     [DEPENDS <targets or files>])  what produces ARCHIVE
#
# Builds TweenoraModels.so (Windows: TweenoraModels.dll) exporting
#     const unsigned char* lq_get_model_A(uint64_t* size)
# around the archive's bytes, embedded at build time: nothing is read at run
# time, the bytes live as long as the process and the function needs no
# initialisation call. The library is rebuilt when the archive changes. An
# empty archive gives a library that reports 0 bytes.
#
# ASSEMBLER includes the file with a GNU-style assembler's .incbin (GCC, Clang,
# MinGW): fast at any size. SOURCE writes the bytes into a generated C++ array,
# which any compiler (MSVC among them) builds; it is the default with MSVC, and
# slow to compile for archives of hundreds of megabytes.
set(TWEENORA_MODEL_EMBED "AUTO" CACHE STRING
    "How model libraries embed their archive: AUTO, ASSEMBLER or SOURCE")
set_property(CACHE TWEENORA_MODEL_EMBED PROPERTY STRINGS AUTO ASSEMBLER SOURCE)

function(tweenora_add_model_library target)
    cmake_parse_arguments(ARG "" "ARCHIVE;OUTPUT_DIRECTORY;EXPORT_NAME;EMBED" "DEPENDS" ${ARGN})
    if(NOT ARG_ARCHIVE OR NOT ARG_OUTPUT_DIRECTORY)
        message(FATAL_ERROR "tweenora_add_model_library: ARCHIVE and OUTPUT_DIRECTORY are required")
    endif()
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "tweenora_add_model_library: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT ARG_EMBED)
        set(ARG_EMBED "${TWEENORA_MODEL_EMBED}")
    endif()
    if(ARG_EMBED STREQUAL "AUTO")
        if(MSVC)
            set(ARG_EMBED SOURCE)
        else()
            set(ARG_EMBED ASSEMBLER)
        endif()
    endif()
    if(NOT ARG_EMBED MATCHES "^(ASSEMBLER|SOURCE)$")
        message(FATAL_ERROR "tweenora_add_model_library: EMBED must be AUTO, ASSEMBLER or SOURCE, "
                            "not '${ARG_EMBED}'")
    endif()
    if(ARG_EMBED STREQUAL "ASSEMBLER" AND MSVC)
        message(FATAL_ERROR "tweenora_add_model_library: MSVC has no GNU-style assembler "
                            "(.incbin); use EMBED SOURCE")
    endif()
    if(NOT ARG_EXPORT_NAME)
        set(ARG_EXPORT_NAME lq_get_model_A)
    endif()
    # Absolute: the assembler resolves .incbin against its own working directory.
    get_filename_component(archive "${ARG_ARCHIVE}" ABSOLUTE)

    set(gen "${CMAKE_CURRENT_BINARY_DIR}/${target}")
    set(TWEENORA_ARCHIVE_PATH "${archive}")
    set(TWEENORA_EXPORT_NAME "${ARG_EXPORT_NAME}")
    if(ARG_EMBED STREQUAL "SOURCE")
        set(TWEENORA_ARCHIVE_IN_SOURCE 1)
    else()
        set(TWEENORA_ARCHIVE_IN_SOURCE 0)
    endif()
    # Found from this file, so callers in any directory can use the function.
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/model_export.cpp.in" "${gen}/model_export.cpp"
        @ONLY)

    set(object_depends "${archive}")
    set(target_depends "")
    foreach(dependency IN LISTS ARG_DEPENDS)
        if(TARGET "${dependency}")
            list(APPEND target_depends "${dependency}")
        else()
            get_filename_component(dependency "${dependency}" ABSOLUTE)
            list(APPEND object_depends "${dependency}")
        endif()
    endforeach()

    if(ARG_EMBED STREQUAL "SOURCE")
        set(embed_script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/embed_archive.cmake")
        add_custom_command(OUTPUT "${gen}/model_archive.cpp"
            COMMAND "${CMAKE_COMMAND}" -DARCHIVE=${archive} -DOUTPUT=${gen}/model_archive.cpp
                    -P "${embed_script}"
            DEPENDS ${object_depends} "${embed_script}"
            COMMENT "Writing ${target}'s archive into a source file"
            VERBATIM)
        _tweenora_model_library_target(${target} "${gen}/model_archive.cpp")
        return()
    endif()

    if(WIN32)
        set(section "    .section .rdata,\"dr\"\n")
        set(hidden_begin "")
        set(hidden_end "")
        set(stack_note "")
    else()
        set(section "    .section .rodata\n")
        set(hidden_begin "    .hidden tweenora_model_archive_begin\n")
        set(hidden_end "    .hidden tweenora_model_archive_end\n")
        set(stack_note "    .section .note.GNU-stack,\"\",@progbits\n")
    endif()
    file(WRITE "${gen}/model_archive.S.in"
        "${section}"
        "    .balign 64\n"
        "${hidden_begin}"
        "    .globl tweenora_model_archive_begin\n"
        "tweenora_model_archive_begin:\n"
        "    .incbin \"@TWEENORA_ARCHIVE_PATH@\"\n"
        "${hidden_end}"
        "    .globl tweenora_model_archive_end\n"
        "tweenora_model_archive_end:\n"
        "    .byte 0\n"
        "${stack_note}")
    configure_file("${gen}/model_archive.S.in" "${gen}/model_archive.S" @ONLY)

    # .incbin is invisible to dependency scanning: name the archive explicitly.
    set_source_files_properties("${gen}/model_archive.S" PROPERTIES OBJECT_DEPENDS "${object_depends}")
    _tweenora_model_library_target(${target} "${gen}/model_archive.S")
endfunction()

# The library itself, from the export and the source that holds the bytes;
# reads gen, ARG_OUTPUT_DIRECTORY and target_depends from the caller.
macro(_tweenora_model_library_target target archive_source)
    add_library(${target} MODULE "${gen}/model_export.cpp" "${archive_source}")
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        OUTPUT_NAME TweenoraModels
        LIBRARY_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}"
        RUNTIME_OUTPUT_DIRECTORY "${ARG_OUTPUT_DIRECTORY}"
        CXX_VISIBILITY_PRESET hidden)
    if(target_depends)
        add_dependencies(${target} ${target_depends})
    endif()
endmacro()
