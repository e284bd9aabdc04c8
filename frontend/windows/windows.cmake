# The program's icon and desktop entry, and the install rules of KorvalinFE.
if(TARGET KorvalinFE)
    qt_add_resources(KorvalinFE korvalinfe_icon
        PREFIX "/korvalinfe"
        BASE ${CMAKE_CURRENT_SOURCE_DIR}/windows
        FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.png)

    include(GNUInstallDirs)
    install(TARGETS KorvalinFE RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/korvalinfe.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
endif()
