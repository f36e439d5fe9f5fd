# Binary patches of rebuilt programs against bsdiff/bspatch, xdelta3 and zstd --patch-from (the
# peers come from Debian: bsdiff, xdelta3, zstd). Each pair is a program of this tree and the same
# program linked again after a small fix: its main source with one function and one message
# appended, which moves all code and data after it, as a rebuild does.
set(bench_patch_fixed ${CMAKE_CURRENT_BINARY_DIR}/patch_fixed)
set(bench_patch_fix [[

// A small fix: one more function and its message.
#include <QString>
QString benchPatchFixNote(int tries)
{
    return QStringLiteral("gave up after %1 tries: the origin did not answer").arg(tries);
}
]])
foreach(main publish/main.cpp thumb/WindowMain.cpp)
  file(READ ${PROJECT_SOURCE_DIR}/${main} text)
  string(REPLACE / _ copy ${main})
  file(WRITE ${bench_patch_fixed}/${copy}.new "${text}${bench_patch_fix}")
  file(COPY_FILE ${bench_patch_fixed}/${copy}.new ${bench_patch_fixed}/${copy} ONLY_IF_DIFFERENT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${main})
endforeach()

add_executable(bench_patch_publish_fixed ${bench_patch_fixed}/publish_main.cpp)
target_compile_definitions(bench_patch_publish_fixed PRIVATE IV_PUBLISH_VERSION="${PROJECT_VERSION}")
target_link_libraries(bench_patch_publish_fixed PRIVATE publishcli Qt6::Core)
add_executable(bench_patch_thumbwindow_fixed ${bench_patch_fixed}/thumb_WindowMain.cpp)
target_link_libraries(bench_patch_thumbwindow_fixed PRIVATE thumbui ivassets)

add_executable(bench_patch bench_patch.cpp)
target_link_libraries(bench_patch PRIVATE renewelpatch)
target_compile_definitions(bench_patch PRIVATE
  IV_PATCH_PAIRS="$<TARGET_FILE:renewel-publish>|$<TARGET_FILE:bench_patch_publish_fixed>|$<TARGET_FILE:thumb-window>|$<TARGET_FILE:bench_patch_thumbwindow_fixed>")
add_dependencies(bench_patch renewel-publish bench_patch_publish_fixed thumb-window bench_patch_thumbwindow_fixed)
