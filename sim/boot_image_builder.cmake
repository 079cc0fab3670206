# The boot image builder (a library for the emulator and the tests) and the
# bootimage program. It uses only the boot image record declarations of the
# flasher, which are header-only, so it links nothing of sasburn.
include_guard(GLOBAL)

add_library(boot_image_builder STATIC ${CMAKE_CURRENT_LIST_DIR}/boot_image_builder.cc)
target_include_directories(boot_image_builder PUBLIC
  ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/flasher ${PROJECT_SOURCE_DIR}/ctllib)

add_executable(bootimage ${CMAKE_CURRENT_LIST_DIR}/bootimage.cc)
target_link_libraries(bootimage PRIVATE boot_image_builder)
