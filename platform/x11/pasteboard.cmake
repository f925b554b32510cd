# The pasteboard server of a display, installed in libexec/ (the tools start it when none answers).
ssp_add_tool(ssp-pasteboard-server ${CMAKE_CURRENT_SOURCE_DIR}/server/main.cpp DESTINATION ${SSP_HELPER_DIR})
target_link_libraries(ssp-pasteboard-server PRIVATE ssp_platform_x11)

# boardctl --x11 works on the board of the display's server.
target_link_libraries(boardctl PRIVATE ssp_platform_x11)
target_compile_definitions(boardctl PRIVATE SSP_BOARDCTL_X11=1)
