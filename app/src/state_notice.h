// Telling the user, in the status line, about a settings or configuration file that could not
// be read (and where it was kept, when a save had to make room for a new one).
#pragma once

// Shows the platform's notice about the last panel-state file in status_line; does nothing
// when there is none, so the status line keeps what it shows.
void show_panel_state_notice();
