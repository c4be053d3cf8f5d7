#!/usr/bin/env bash
# Draws the pictures of docs/ anew under Xvfb, from the program as built in build/, on a
# 1920x1080 screen at 100 % (docs/NAME.png) and at 200 % (docs/NAME@2x.png, the sharper twin the
# guide window shows on such a screen):
#   scripts/screenshots.sh              every window listed below
#   scripts/screenshots.sh NAME...      only those
# Each line of WINDOWS names one picture, docs/NAME.png; the tool (tests/app/screenshot_tool.cpp)
# knows how to open each window. A new window is one more line here and one entry there.
set -euo pipefail
cd "$(dirname "$0")/.."
WINDOWS=(
    main_window      # the main window with a circular written
    settings_window  # the settings window
    server_details_window  # the server details window opened from the settings window
    server_details_oauth   # the same with an OAuth 2.0 login chosen
    address_start    # the address book as it opens
    address_groups   # the address book, groups and members page
    address_window   # the address book, a member's entries
    hit_list         # the choice offered when a typed name matches several entries
    log_viewer       # the send log viewer with a send chosen
    refused_window   # the recipients a run skipped because the server refused them
    send_menu        # TB_Send's menu open: the preview and the test send
    preview_window   # the preview of a circular, a recipient chosen
    preview_source   # the preview's source tab: the message as it goes on the wire
    attachment_window  # the files attached to the circular, three of them
    attachment_status  # the main window's status bar naming the attached files
    merge_table_window # a merge table opened, with the rows that cannot be sent
    merge_preview      # the preview of a merged circular, a row chosen
    guide_window     # the guide, opened with F1 in the settings window
    first_start_box  # the box of the first start
    file_dialog      # Qt's own file dialog, in Japanese
    password_prompt  # the password prompt of a send
    error_connect_box     # the box of a run that could not connect
    error_login_box       # the box of a run whose login was refused
    error_recipient_box   # the box of a run stopped by a refused recipient
    error_body_box        # the box of a run whose message the server refused after its data
    error_temporary_box   # the box of a run the server ended for now (421)
    error_addresses_box   # the box that refuses a run for addresses that are no mailboxes
    confirm_send_box      # the question before a run (送信前に確認する)
    resume_question  # a send after a stopped run: go on with the rest?
    inflight_question  # the recipient whose message may have arrived
    send_all_again_question  # いいえ at the first: everyone again?
)
source scripts/deps.sh
tessaly_ensure_packages "${TESSALY_BUILD_PACKAGES[@]}" "${TESSALY_RUN_PACKAGES[@]}" \
    "${TESSALY_SCREENSHOT_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target app_screenshot
if [ $# -gt 0 ]; then WINDOWS=("$@"); fi
# The sample user's files live in /home/yamada, as on a user's machine: this run alone mounts an
# empty /home of its own (a private mount namespace), so nothing of this machine shows.
draw() {
    unshare --mount --map-root-user bash -c 'mount -t tmpfs tmpfs /home && exec "$@"' draw \
        env "$@" HOME=/home/yamada LANG=ja_JP.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" \
        build/tests/app/app_screenshot docs "${WINDOWS[@]}"
}
draw QT_SCALE_FACTOR=1
draw QT_SCALE_FACTOR=2 TESSALY_SCREENSHOT_SUFFIX=@2x
