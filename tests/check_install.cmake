# Installs into a scratch prefix and checks that every file is in its place.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file bin/kadrin bin/kadrin-decode share/applications/kadrin.desktop
             share/icons/hicolor/64x64/apps/kadrin.png)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "missing after install: ${file}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
