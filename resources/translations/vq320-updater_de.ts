<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AppDelegate</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Locate the Mirt firmware .dfu file</source>
        <translation>Die Mirt-Firmwaredatei (.dfu) auswählen</translation>
    </message>
    <message>
        <source>Mirt firmware (*.%1)</source>
        <translation>Mirt-Firmware (*.%1)</translation>
    </message>
    <message>
        <source>Mirt VQ320 device connected</source>
        <translation>Gerät Mirt VQ320 angeschlossen</translation>
    </message>
    <message>
        <source>Mirt VQ320 device NOT found</source>
        <translation>Gerät Mirt VQ320 NICHT gefunden</translation>
    </message>
    <message>
        <source>Please unplug and replug USB cable connected to the MIRT VQ320</source>
        <translation>Bitte das USB-Kabel des MIRT VQ320 abziehen und wieder einstecken</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Mirt VQ320 Firmware Updater</source>
        <translation>Mirt VQ320 Firmware-Aktualisierung</translation>
    </message>
    <message>
        <source>Firmware file:</source>
        <translation>Firmware-Datei:</translation>
    </message>
    <message>
        <source>&amp;Choose…</source>
        <translation>&amp;Auswählen…</translation>
    </message>
    <message>
        <source>Choose the firmware .dfu file (Ctrl+O)</source>
        <translation>Die Firmware-Datei (.dfu) auswählen (Strg+O)</translation>
    </message>
    <message>
        <source>&amp;Send</source>
        <translation>&amp;Senden</translation>
    </message>
    <message>
        <source>Write the firmware to the mixer (Ctrl+Return)</source>
        <translation>Die Firmware in das Mischpult schreiben (Strg+Eingabe)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Choose Firmware…</source>
        <translation>Firmware &amp;auswählen…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
</context>
<context>
    <name>ProgressDLG</name>
    <message>
        <source>Updating the firmware</source>
        <translation>Firmware wird aktualisiert</translation>
    </message>
    <message>
        <source>Writing the firmware to the Mirt VQ320.
Please wait and keep the USB cable connected.</source>
        <translation>Die Firmware wird in das Mirt VQ320 geschrieben.
Bitte warten und das USB-Kabel angeschlossen lassen.</translation>
    </message>
    <message>
        <source>Working</source>
        <translation>In Arbeit</translation>
    </message>
</context>
<context>
    <name>UpdateOutcome</name>
    <message>
        <source>Timeout error: the device does not respond. Please repeat the procedure.</source>
        <translation>Zeitüberschreitung: Das Gerät antwortet nicht. Bitte den Vorgang wiederholen.</translation>
    </message>
    <message>
        <source>Sorry, it was not possible to complete the transfer. Repeat the procedure.</source>
        <translation>Die Übertragung konnte leider nicht abgeschlossen werden. Bitte den Vorgang wiederholen.</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Aktualisierung läuft...</translation>
    </message>
    <message>
        <source>Please refer to the instructions on the display of the MIRT VQ320 to complete the update</source>
        <translation>Bitte folgen Sie den Anweisungen auf dem Display des MIRT VQ320, um die Aktualisierung abzuschließen</translation>
    </message>
    <message>
        <source>Sorry, MIRT VQ320 not found. Please check the USB connection and try again.</source>
        <translation>MIRT VQ320 leider nicht gefunden. Bitte die USB-Verbindung prüfen und es erneut versuchen.</translation>
    </message>
    <message>
        <source>Error: library not found. Please quit the application and run again the installer.</source>
        <translation>Fehler: Bibliothek nicht gefunden. Bitte das Programm beenden und die Installation erneut ausführen.</translation>
    </message>
    <message>
        <source>ERROR: transfer not completed. Please first turn OFF and then turn ON again the VQ320, check the USB connection and try again.</source>
        <translation>FEHLER: Übertragung nicht abgeschlossen. Bitte das VQ320 aus- und wieder einschalten, die USB-Verbindung prüfen und es erneut versuchen.</translation>
    </message>
</context>
</TS>
