# The suite's screenshot program on X11, installed in libexec/, where the window server finds it.
ssp_add_tool(ssp-screencapture ${CMAKE_CURRENT_SOURCE_DIR}/screencapture/main.cpp DESTINATION ${SSP_HELPER_DIR})
target_link_libraries(ssp-screencapture PRIVATE ssp_platform_x11)
