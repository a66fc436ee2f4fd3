# Desktop integration, installed with the program: the menu entry, the file
# types of scripts (.ksc) and image lists (.brl), and the icon.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/brellix.desktop
        DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/brellix-mime.xml
        DESTINATION share/mime/packages RENAME brellix.xml)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/resources/brellix.svg
        DESTINATION share/icons/hicolor/scalable/apps)
