/* Every text the installer shows, in English and German: the one source for
   the Windows resource script and the POSIX string table alike.

   Texts are Windows-1252 bytes; non-ASCII letters are written as octal
   escapes (\344 is a-umlaut) so that the resource compiler and the C++
   compiler read the same bytes whatever the editor's encoding.
   Plain C preprocessor only: the resource compiler reads this file too. */
#ifndef LUMO_STRINGS_H
#define LUMO_STRINGS_H

#define LUMO_CAPTION "Lumo! Installer"

/* Dialog 103 */
#define LUMO_DIALOG_TITLE_EN "Preparing Lumo Installation"
#define LUMO_DIALOG_TITLE_DE "Bereite Lumo Installation vor"
#define LUMO_DIALOG_PROMPT_EN "Please wait while decompressing installation files to:\n"
#define LUMO_DIALOG_PROMPT_DE "Entpacke Lumo-Installationsdateien nach:\n"

/* String table */
#define LUMO_STR2_EN "Error in installationdata!\r\nThe installprogram is corrupted, maybe it was damaged during downloading.\r\nAborting installation"
#define LUMO_STR2_DE "Fehler in den Installationsdaten\r\nDas Installationsprogramm ist defekt, evtl. wurde es beim Transport besch\344digt\r\nInstallation wurde abgebrochen!"
#define LUMO_STR3_EN "Error copying the file: \042"
#define LUMO_STR3_DE "Fehler beim Kopieren der Datei: \042"
#define LUMO_STR4_EN "\042\r\nMaybe the harddisc is full or you haven't got write permission."
#define LUMO_STR4_DE "\042\r\nEvtl. ist die Festplatte voll oder es sind keine Schreibrechte vorhanden?"
#define LUMO_STR5_EN "There was an error decompressing the files"
#define LUMO_STR5_DE "Beim Entpacken der Installationsdaten trat ein fataler Fehler auf"
#define LUMO_STR6_EN "The staging folder cannot be used safely: \042"
#define LUMO_STR6_DE "Der Entpackordner kann nicht sicher verwendet werden: \042"
/* The way out names what chooses the temporary folder: TMP on Windows (its
   temporary folder comes from TMP, then TEMP), TMPDIR on POSIX systems. */
#define LUMO_STR7_EN "\042\r\nIt is a link, or another user owns it or can change it. Remove it, or set the TMP variable to a folder of your own, and start the installer again."
#define LUMO_STR7_DE "\042\r\nEr ist ein Verweis, oder ein anderer Benutzer besitzt ihn oder kann ihn \344ndern. Bitte entfernen oder die Variable TMP auf einen eigenen Ordner setzen und das Installationsprogramm erneut starten."
#define LUMO_STR7_POSIX_EN "\042\r\nIt is a link, or another user owns it or can change it. Remove it, or set TMPDIR to a folder of your own, and start the installer again."
#define LUMO_STR7_POSIX_DE "\042\r\nEr ist ein Verweis, oder ein anderer Benutzer besitzt ihn oder kann ihn \344ndern. Bitte entfernen oder TMPDIR auf einen eigenen Ordner setzen und das Installationsprogramm erneut starten."
#define LUMO_STR8_EN "There is not enough memory to unpack the installation files."
#define LUMO_STR8_DE "Es ist nicht genug Speicher frei, um die Installationsdateien zu entpacken."
/* The system's own words for why follow the tail. */
#define LUMO_STR9_EN "The setup program could not be started: \042"
#define LUMO_STR9_DE "Das Setup-Programm konnte nicht gestartet werden: \042"
#define LUMO_STR10_EN "\042\r\n"
#define LUMO_STR10_DE "\042\r\n"

#endif
