# The Linux part of `cmake --install`, run by the script that
# qt_generate_deploy_script writes, with Qt's deployment commands at hand and
# `executable`, `qt_plugins_dir` and `patchelf` set.

if(NOT patchelf)
    message(FATAL_ERROR "Deploying on Linux needs patchelf (Debian package patchelf)")
endif()

# A distribution's Qt comes without the CMake files that name each module's
# plugins, so Qt's deployment would find none: take the plugin folders the
# window and the network need.
if(NOT __QT_DEPLOY_PLUGINS)
    foreach(type IN ITEMS platforms platforminputcontexts platformthemes xcbglintegrations
            egldeviceintegrations wayland-decoration-client wayland-graphics-integration-client
            wayland-shell-integration imageformats iconengines tls networkinformation generic)
        file(GLOB plugins "${qt_plugins_dir}/${type}/*.so")
        list(APPEND __QT_DEPLOY_PLUGINS ${plugins})
    endforeach()
endif()

qt_deploy_qml_imports(TARGET fenestra PLUGINS_FOUND qml_plugins)
# The Qt libraries come along; the rest of the system's libraries, which
# every distribution that runs this Qt has, stay the system's.
qt_deploy_runtime_dependencies(
    EXECUTABLE "${executable}"
    ADDITIONAL_MODULES ${qml_plugins}
    GENERATE_QT_CONF
    POST_INCLUDE_REGEXES "/libQt6[^/]*$"
    POST_EXCLUDE_REGEXES ".*")

# The libraries find each other in their folder: a library that only another
# one needs is looked up by that one's run path, not the program's.
file(GLOB libraries "${QT_DEPLOY_PREFIX}/${QT_DEPLOY_LIB_DIR}/libQt6*.so.*")
foreach(library IN LISTS libraries)
    if(NOT IS_SYMLINK "${library}")
        execute_process(COMMAND "${patchelf}" --set-rpath "$ORIGIN" "${library}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()

# Qt's web engine step copies its process, resources and locales; the process
# must also load the deployed libraries rather than the system's and find the
# resources the way the program does.
set(process "${QT_DEPLOY_PREFIX}/${QT_DEPLOY_LIBEXEC_DIR}/QtWebEngineProcess")
if(EXISTS "${process}")
    file(RELATIVE_PATH libraries "${QT_DEPLOY_PREFIX}/${QT_DEPLOY_LIBEXEC_DIR}"
        "${QT_DEPLOY_PREFIX}/${QT_DEPLOY_LIB_DIR}")
    execute_process(COMMAND "${patchelf}" --set-rpath "$ORIGIN/${libraries}" "${process}"
        COMMAND_ERROR_IS_FATAL ANY)
    file(COPY "${QT_DEPLOY_PREFIX}/${QT_DEPLOY_BIN_DIR}/qt.conf"
        DESTINATION "${QT_DEPLOY_PREFIX}/${QT_DEPLOY_LIBEXEC_DIR}")
endif()
