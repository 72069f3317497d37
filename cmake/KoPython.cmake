# The Python binding (python/ko_core, pure ctypes): the interpreter its tests run under and the
# site directory, relative to the install prefix, that `make install` puts the package in.
# Debian's own python3 is preferred: the install script gives it numpy and pytest.
find_program(KO_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(KO_PYTHON3 python3)
if(NOT KO_PYTHON3)
  message(FATAL_ERROR "python3 not found: run scripts/install-deps.sh")
endif()

# Debian's interpreter reads lib/pythonX.Y/dist-packages under /usr/local; others site-packages.
execute_process(
  COMMAND ${KO_PYTHON3} -c
    "import sys; v='python%d.%d' % sys.version_info[:2]; print('lib/%s/%s' % (v, 'dist-packages' if any(p.endswith(v + '/dist-packages') for p in sys.path) else 'site-packages'))"
  OUTPUT_VARIABLE KO_PYTHON_SITE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

file(RELATIVE_PATH KO_PYTHON_TO_LIBDIR "/prefix/${KO_PYTHON_SITE}/ko_core" "/prefix/${CMAKE_INSTALL_LIBDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ko_core_installed.py.in ${PROJECT_BINARY_DIR}/python/_installed.py @ONLY)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/ko_core DESTINATION ${KO_PYTHON_SITE}
        PATTERN "_installed.py" EXCLUDE PATTERN "__pycache__" EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/python/_installed.py DESTINATION ${KO_PYTHON_SITE}/ko_core)
