# What `cmake --install` puts on a machine, and the Debian package made from it with CPack
# (`cpack -G DEB` in the build folder, or ./package). Only the program and what it needs at run
# time are installed; tests and benchmarks are not.

include(GNUInstallDirs)

# The desktop's name for Tessaly: the menu entry, the icon and the AppStream data share it.
set(TESSALY_APP_ID "jp.tessaly.Tessaly")
# The screenshots software centres show are the pictures of docs/ in the project's repository.
# The owner sets the web address at which that folder's files can be fetched as they are (for
# example https://git.example.org/tessaly/raw/branch/main/docs); without it the AppStream data
# names no screenshot rather than addresses that lead nowhere.
set(TESSALY_SCREENSHOT_URL "" CACHE STRING
    "Web address of the repository's docs/ folder, from which the AppStream screenshots are fetched")
set(_screenshots main_window settings_window server_details_window preview_window address_window
    log_viewer)
set(_captions_main_window
    "The main window: the recipients, the Subject and the body of a circular"
    "メイン画面：宛先、件名（Subject）、回覧の本文")
set(_captions_settings_window
    "The settings window: the mail server, the sender and the options"
    "設定画面：送信サーバー、発信者、各種の設定")
set(_captions_server_details_window
    "The server details window: the connection's protection, the SMTP login and the mail's character code"
    "送信サーバーの詳細：接続の保護、SMTP 認証、メールの文字コード")
set(_captions_preview_window
    "The preview: every message of the run as its recipient will read it, before anything is sent"
    "プレビュー：送信する前に、宛先ごとのメッセージを受け取る人が読む形で確かめる")
set(_captions_address_window
    "The address book: groups, members and their addresses"
    "アドレス帳：グループ、メンバー、その宛先")
set(_captions_log_viewer
    "The send log viewer: past sends by date and title, with their recipients"
    "送信ログ：日付とタイトルごとの送信と、その宛先")
set(TESSALY_APPSTREAM_SCREENSHOTS "")
if(TESSALY_SCREENSHOT_URL)
  string(REGEX REPLACE "/+$" "" _base "${TESSALY_SCREENSHOT_URL}")
  set(_kind " type=\"default\"")
  string(APPEND TESSALY_APPSTREAM_SCREENSHOTS "  <screenshots>\n")
  foreach(_shot IN LISTS _screenshots)
    list(GET _captions_${_shot} 0 _english)
    list(GET _captions_${_shot} 1 _japanese)
    string(APPEND TESSALY_APPSTREAM_SCREENSHOTS
           "    <screenshot${_kind}>\n"
           "      <caption>${_english}</caption>\n"
           "      <caption xml:lang=\"ja\">${_japanese}</caption>\n"
           "      <image>${_base}/${_shot}.png</image>\n"
           "    </screenshot>\n")
    set(_kind "")
  endforeach()
  string(APPEND TESSALY_APPSTREAM_SCREENSHOTS "  </screenshots>\n")
else()
  message(STATUS "TESSALY_SCREENSHOT_URL is not set: the AppStream data names no screenshots")
endif()

set(_desktop ${PROJECT_SOURCE_DIR}/app/desktop)
set(_generated ${PROJECT_BINARY_DIR}/desktop)
file(MAKE_DIRECTORY ${_generated})
configure_file(${_desktop}/${TESSALY_APP_ID}.metainfo.xml.in
               ${_generated}/${TESSALY_APP_ID}.metainfo.xml @ONLY)

# Debian wants the manual page and the changelog compressed, reproducibly (no name, no time).
configure_file(${_desktop}/changelog.Debian.in ${_generated}/changelog.Debian @ONLY)
foreach(_pair "${_desktop}/tessaly.1;tessaly.1.gz" "${_generated}/changelog.Debian;changelog.Debian.gz")
  list(GET _pair 0 _source)
  list(GET _pair 1 _target)
  execute_process(COMMAND gzip -9 -n -c ${_source}
                  OUTPUT_FILE ${_generated}/${_target} COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_source})
endforeach()

install(TARGETS tessaly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_desktop}/${TESSALY_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_desktop}/tessaly.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TESSALY_APP_ID}.svg)
install(FILES ${_generated}/${TESSALY_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_generated}/tessaly.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/tessaly)
install(FILES ${_desktop}/copyright ${_generated}/changelog.Debian.gz DESTINATION ${_docdir})
# Both user guides with the pictures they show, side by side as in docs/, for reading outside
# the program (the program shows the copies compiled into it).
file(GLOB _pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.png)
list(FILTER _pictures EXCLUDE REGEX "@2x\\.png$") # the sharper twins serve the program's window
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide-ja.md ${PROJECT_SOURCE_DIR}/docs/oauth_guide_ja.md
              ${_pictures} DESTINATION ${_docdir})

# Installing builds nothing: the package is made from the program as built (./package and the
# package test build it first), not by building every test and benchmark on the way.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tessaly developers")
set(CPACK_PACKAGE_CONTACT "The Tessaly developers <tessaly@tessaly.jp>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not library dependencies, but without a Japanese font every text shows as boxes;
# Qt's own texts (file dialogs, context menus, standard buttons) in Japanese come from
# qt6-translations-l10n; the sign-in of an OAuth login opens the browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send a circular mail in Japanese, one message per recipient")
# CPack indents the lines of the long description and writes the empty line as " .".
set(CPACK_PACKAGE_DESCRIPTION "Tessaly sends small circular mails in Japanese. One mail (a Subject and a
body) is written, its recipients gathered (typed, read from a file of
addresses, or taken from an address book of groups and members), and the
send opens one SMTP connection and sends a separate ISO-2022-JP message to
each recipient, so that every recipient sees only their own address.

Each copy can begin with the addressee's name and an honorific, a signature
can be added, a notify copy can go to a fixed address, and every recipient
sent is written to a send log with its own viewer. The user guide is in
Japanese.")
include(CPack)
