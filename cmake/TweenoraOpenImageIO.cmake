# SPDX-License-Identifier: Apache-2.0
# Finds OpenImageIO for every folder that reads or writes image files.
# Debian's OpenImageIO package lists OpenCV's include folder, which exists only
# when OpenCV's headers happen to be installed; CMake refuses missing folders.
find_package(OpenImageIO REQUIRED)
foreach(property INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES)
    get_target_property(folders OpenImageIO::OpenImageIO ${property})
    if(folders)
        set(existing "")
        foreach(folder IN LISTS folders)
            if(EXISTS "${folder}")
                list(APPEND existing "${folder}")
            endif()
        endforeach()
        set_target_properties(OpenImageIO::OpenImageIO PROPERTIES ${property} "${existing}")
    endif()
endforeach()
