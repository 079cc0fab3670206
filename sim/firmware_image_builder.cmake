# The firmware image builder (a library for the emulator and the tests) and the
# fwimage program. It uses only the firmware image record declarations of the
# flasher, which are header-only, so it links nothing of sasburn.
include_guard(GLOBAL)

add_library(firmware_image_builder STATIC ${CMAKE_CURRENT_LIST_DIR}/firmware_image_builder.cc)
target_include_directories(firmware_image_builder PUBLIC
  ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/flasher ${PROJECT_SOURCE_DIR}/ctllib)

add_executable(fwimage ${CMAKE_CURRENT_LIST_DIR}/fwimage.cc)
target_link_libraries(fwimage PRIVATE firmware_image_builder)
