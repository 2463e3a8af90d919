# The same code for 64-bit Windows: the variant the tests run under Wine
# (these machines run no 32-bit programs).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(STUB_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
