// Qt's messages with the journal's priorities, for the Qt programs that link the library.
#pragma once

// When standard error is the journal's stream, installs a Qt message handler that writes each
// message as Qt's own handler does, one line on standard error, with the priority prefix of
// its type before each line of it (log_line): debug 7, info 6, warning 4, critical and fatal
// 3. Otherwise it installs nothing, and Qt's own handler stays. Either way the types that
// PANEL_LOG_LEVEL leaves out (log_kept) are disabled in every logging category.
void qt_messages_to_journal();
