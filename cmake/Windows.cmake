# The Windows build's settings and libraries: the Win32 services come with
# the system; zlib and GoogleTest are built for the target from Debian's
# MinGW packages and sources; nlohmann-json is headers only.
enable_language(RC)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                        __USE_MINGW_ANSI_STDIO=1)
# One file to copy: no MinGW runtime DLLs beside the executable. Only what
# is reached goes in: the program is downloaded by every user.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)

# Linked into the program, not a DLL beside it.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

# The host's nlohmann-json headers, without the rest of the host's include folder.
set(_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${_cross_include})
file(CREATE_LINK /usr/include/nlohmann ${_cross_include}/nlohmann SYMBOLIC)
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${_cross_include})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)
