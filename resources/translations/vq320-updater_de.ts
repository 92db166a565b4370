<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutDialog</name>
    <message>
        <source>dfu-util: not found, updates cannot run</source>
        <translation>dfu-util: nicht gefunden, Aktualisierungen sind nicht möglich</translation>
    </message>
    <message>
        <source>dfu-util: %1</source>
        <translation>dfu-util: %1</translation>
    </message>
    <message>
        <source>Mirt VQ320 Firmware Updater %1

Writes new firmware to the Mirt VQ320 USB-MIDI mixer.

Copyright (c) 2026 Mirt and the Mirt VQ320 Firmware Updater contributors. Licensed under the MIT License.

%2</source>
        <translation>Mirt VQ320 Firmware-Aktualisierung %1

Schreibt neue Firmware in das USB-MIDI-Mischpult Mirt VQ320.

Copyright (c) 2026 Mirt und die Mitwirkenden der Mirt VQ320 Firmware-Aktualisierung. Lizenziert unter der MIT-Lizenz.

%2</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
</context>
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
        <source>no ALSA sequencer: /dev/snd/seq is missing or refused a client</source>
        <translation>kein ALSA-Sequencer: /dev/snd/seq fehlt oder hat einen Client abgelehnt</translation>
    </message>
    <message>
        <source>this user may not open /dev/snd/seq</source>
        <translation>dieser Benutzer darf /dev/snd/seq nicht öffnen</translation>
    </message>
    <message>
        <source>error %1</source>
        <translation>Fehler %1</translation>
    </message>
    <message>
        <source>MIDI system not available (%1)</source>
        <translation>MIDI-System nicht verfügbar (%1)</translation>
    </message>
    <message>
        <source>Not usable: %1</source>
        <translation>Nicht verwendbar: %1</translation>
    </message>
    <message>
        <source>The last update was interrupted, so the mixer&apos;s firmware may be incomplete.</source>
        <translation>Die letzte Aktualisierung wurde unterbrochen, daher ist die Firmware des Mischpults möglicherweise unvollständig.</translation>
    </message>
    <message>
        <source>If the mixer waits in its USB update mode, keep it connected, choose the firmware (%1) and press Send: the updater then writes it without restarting the mixer.</source>
        <translation>Wenn das Mischpult im USB-Aktualisierungsmodus wartet, lassen Sie es angeschlossen, wählen Sie die Firmware (%1) und drücken Sie Senden: Das Programm schreibt sie dann, ohne das Mischpult neu zu starten.</translation>
    </message>
    <message>
        <source>A device waits in USB update mode: %1. If it is the MIRT VQ320 after an interrupted update, Send writes the firmware to it.</source>
        <translation>Ein Gerät wartet im USB-Aktualisierungsmodus: %1. Wenn es der MIRT VQ320 nach einer unterbrochenen Aktualisierung ist, schreibt Senden die Firmware darauf.</translation>
    </message>
    <message>
        <source>%1 devices wait in USB update mode. To finish the update of the MIRT VQ320, leave only the mixer connected.</source>
        <translation>%1 Geräte warten im USB-Aktualisierungsmodus. Um die Aktualisierung des MIRT VQ320 abzuschließen, lassen Sie nur das Mischpult angeschlossen.</translation>
    </message>
    <message>
        <source>Send is disabled: %1 Reinstall dfu-util, then choose the firmware again.</source>
        <translation>Senden ist deaktiviert: %1 Installieren Sie dfu-util neu und wählen Sie dann die Firmware erneut.</translation>
    </message>
</context>
<context>
    <name>DfuDevice</name>
    <message>
        <source>USB device</source>
        <translation>USB-Gerät</translation>
    </message>
    <message>
        <source>%1 (%2) at USB port %3</source>
        <translation>%1 (%2) am USB-Anschluss %3</translation>
    </message>
</context>
<context>
    <name>DfuFileCheck</name>
    <message>
        <source>The DfuSe image has no target.</source>
        <translation>Das DfuSe-Abbild hat kein Target.</translation>
    </message>
    <message>
        <source>Target %1 of the DfuSe image is missing or damaged.</source>
        <translation>Target %1 des DfuSe-Abbilds fehlt oder ist beschädigt.</translation>
    </message>
    <message>
        <source>Element %1 of target %2 lies outside its target.</source>
        <translation>Element %1 von Target %2 liegt außerhalb seines Targets.</translation>
    </message>
    <message>
        <source>Element %1 of target %2 claims %3 bytes; its target has only %4 left.</source>
        <translation>Element %1 von Target %2 gibt %3 Bytes an; sein Target hat nur noch %4.</translation>
    </message>
    <message>
        <source>Target %1&apos;s elements do not fill its %2 bytes.</source>
        <translation>Die Elemente von Target %1 füllen seine %2 Bytes nicht.</translation>
    </message>
    <message>
        <source>The DfuSe image holds no data.</source>
        <translation>Das DfuSe-Abbild enthält keine Daten.</translation>
    </message>
    <message>
        <source>The file no longer exists.</source>
        <translation>Die Datei existiert nicht mehr.</translation>
    </message>
    <message>
        <source>This is not a regular file.</source>
        <translation>Dies ist keine reguläre Datei.</translation>
    </message>
    <message>
        <source>The file cannot be read: %1</source>
        <translation>Die Datei kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>The file is made for the USB device %1:%2, not for the mixer&apos;s loader 0483:df11.</source>
        <translation>Die Datei ist für das USB-Gerät %1:%2 bestimmt, nicht für den Loader des Mischpults 0483:df11.</translation>
    </message>
    <message>
        <source>unnamed</source>
        <translation>ohne Namen</translation>
    </message>
    <message>
        <source>Element %1 of target %2 is empty.</source>
        <translation>Element %1 von Target %2 ist leer.</translation>
    </message>
    <message>
        <source>Element %1 of target %2 runs past the end of the address space.</source>
        <translation>Element %1 von Target %2 reicht über das Ende des Adressraums hinaus.</translation>
    </message>
    <message>
        <source>The elements at 0x%1 and 0x%2 overlap; the mixer&apos;s memory cannot be written twice in one update.</source>
        <translation>Die Elemente bei 0x%1 und 0x%2 überlappen sich; der Speicher des Mischpults kann in einer Aktualisierung nicht zweimal beschrieben werden.</translation>
    </message>
    <message>
        <source>The file holds raw data without the DfuSe header that the mixer&apos;s loader needs.</source>
        <translation>Die Datei enthält Rohdaten ohne den DfuSe-Kopf, den der Loader des Mischpults braucht.</translation>
    </message>
    <message>
        <source>The file&apos;s DfuSe header is cut short.</source>
        <translation>Der DfuSe-Kopf der Datei ist abgeschnitten.</translation>
    </message>
    <message>
        <source>The file&apos;s DfuSe header has an unknown format revision (%1).</source>
        <translation>Der DfuSe-Kopf der Datei hat eine unbekannte Formatversion (%1).</translation>
    </message>
    <message>
        <source>Target %1 of the image is for alternate setting %2, which the updater does not write: that part of the firmware would be left out.</source>
        <translation>Target %1 des Abbilds ist für die alternative Einstellung %2, die die Aktualisierung nicht beschreibt: dieser Teil der Firmware würde ausgelassen.</translation>
    </message>
    <message>
        <source>The name of target %1 holds a line break.</source>
        <translation>Der Name von Target %1 enthält einen Zeilenumbruch.</translation>
    </message>
    <message numerus="yes">
        <source>The DfuSe image has %n byte(s) after its last target.</source>
        <translation>
            <numerusform>Das DfuSe-Abbild hat %n Byte nach seinem letzten Target.</numerusform>
            <numerusform>Das DfuSe-Abbild hat %n Bytes nach seinem letzten Target.</numerusform>
        </translation>
    </message>
    <message>
        <source>The file&apos;s name or folder holds a line break; rename it and choose it again.</source>
        <translation>Der Name der Datei oder ihres Ordners enthält einen Zeilenumbruch; benennen Sie sie um und wählen Sie sie erneut.</translation>
    </message>
    <message numerus="yes">
        <source>The file is too short to be firmware for the mixer (%n byte(s)).</source>
        <translation>
            <numerusform>Die Datei ist zu kurz für eine Firmware des Mischpults (%n Byte).</numerusform>
            <numerusform>Die Datei ist zu kurz für eine Firmware des Mischpults (%n Bytes).</numerusform>
        </translation>
    </message>
    <message>
        <source>The file has no DFU signature at its end: it is not firmware for the mixer.</source>
        <translation>Die Datei hat am Ende keine DFU-Signatur: sie ist keine Firmware für das Mischpult.</translation>
    </message>
    <message>
        <source>The DFU signature at the end of the file gives an impossible length (%1).</source>
        <translation>Die DFU-Signatur am Ende der Datei gibt eine unmögliche Länge an (%1).</translation>
    </message>
    <message>
        <source>The file is damaged: its checksum (%1) does not match its contents (%2).</source>
        <translation>Die Datei ist beschädigt: ihre Prüfsumme (%1) passt nicht zu ihrem Inhalt (%2).</translation>
    </message>
    <message>
        <source>The file is a plain DFU file (version %1); the mixer&apos;s loader takes only DfuSe files (version 1.1a).</source>
        <translation>Die Datei ist eine einfache DFU-Datei (Version %1); der Loader des Mischpults nimmt nur DfuSe-Dateien (Version 1.1a).</translation>
    </message>
    <message>
        <source>The device does not describe its memory in a form the updater can read (&quot;%1&quot;), so the firmware file cannot be checked against it.</source>
        <translation>Das Gerät beschreibt seinen Speicher nicht in einer Form, die die Aktualisierung lesen kann („%1“), daher kann die Firmware-Datei nicht damit abgeglichen werden.</translation>
    </message>
    <message numerus="yes">
        <source>The firmware file does not fit this device: the element at 0x%1 (%n byte(s)) lies outside the memory its update mode can write.</source>
        <translation>
            <numerusform>Die Firmware-Datei passt nicht zu diesem Gerät: das Element bei 0x%1 (%n Byte) liegt außerhalb des Speichers, den sein Aktualisierungsmodus beschreiben kann.</numerusform>
            <numerusform>Die Firmware-Datei passt nicht zu diesem Gerät: das Element bei 0x%1 (%n Bytes) liegt außerhalb des Speichers, den sein Aktualisierungsmodus beschreiben kann.</numerusform>
        </translation>
    </message>
    <message>
        <source>Target %1 claims %L2 bytes; the file has only %L3 left.</source>
        <translation>Target %1 gibt %L2 Bytes an; die Datei hat nur noch %L3.</translation>
    </message>
    <message numerus="yes">
        <source>DfuSe image, target &quot;%1&quot;, %Ln element(s), %2 bytes</source>
        <translation>
            <numerusform>DfuSe-Abbild, Target „%1“, %Ln Element, %2 Bytes</numerusform>
            <numerusform>DfuSe-Abbild, Target „%1“, %Ln Elemente, %2 Bytes</numerusform>
        </translation>
    </message>
    <message>
        <source> in %L1 targets</source>
        <translation> in %L1 Targets</translation>
    </message>
    <message>
        <source>The file is too large to be firmware for the mixer (%L1 bytes; at most %L2).</source>
        <translation>Die Datei ist zu groß für eine Firmware des Mischpults (%L1 Bytes; höchstens %L2).</translation>
    </message>
</context>
<context>
    <name>FlasherCheck</name>
    <message>
        <source>%1 is missing or cannot be started.</source>
        <translation>%1 fehlt oder kann nicht gestartet werden.</translation>
    </message>
    <message>
        <source>%1 -V did not finish.</source>
        <translation>%1 -V endete nicht.</translation>
    </message>
    <message>
        <source>%1 -V failed: %2</source>
        <translation>%1 -V schlug fehl: %2</translation>
    </message>
    <message>
        <source>no output</source>
        <translation>keine Ausgabe</translation>
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
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;About…</source>
        <translation>&amp;Über…</translation>
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
    <message>
        <source>Firmware written</source>
        <translation>Geschriebene Firmware</translation>
    </message>
    <message>
        <source>%1… %L2% of the firmware</source>
        <translation>%1… %L2 % der Firmware</translation>
    </message>
</context>
<context>
    <name>SealedImage</name>
    <message>
        <source>The firmware could not be prepared for the flasher (%1: %2).</source>
        <translation>Die Firmware konnte nicht für das Flash-Programm vorbereitet werden (%1: %2).</translation>
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
    <message>
        <source>The MIRT VQ320 was found in its update mode, but this user may not write to it. Install a udev rule for the USB device 0483:df11 (Debian&apos;s dfu-util package ships one for the desktop user; the updater&apos;s source has 49-mirt-vq320-dfu.rules), then unplug and replug the USB cable and try again.</source>
        <translation>Der MIRT VQ320 wurde im Aktualisierungsmodus gefunden, aber dieser Benutzer darf nicht darauf schreiben. Installieren Sie eine udev-Regel für das USB-Gerät 0483:df11 (Debians dfu-util-Paket liefert eine für den Desktop-Benutzer; die Quellen des Updaters enthalten 49-mirt-vq320-dfu.rules), ziehen Sie dann das USB-Kabel ab, stecken Sie es wieder ein und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Another device in USB update mode (DFU) is connected besides the MIRT VQ320, so nothing was written. Disconnect the other device, turn the VQ320 off and on again, and repeat the procedure.</source>
        <translation>Außer dem MIRT VQ320 ist ein weiteres Gerät im USB-Aktualisierungsmodus (DFU) angeschlossen, daher wurde nichts geschrieben. Trennen Sie das andere Gerät, schalten Sie das VQ320 aus und wieder ein und wiederholen Sie den Vorgang.</translation>
    </message>
    <message>
        <source>The flasher refused the firmware file: it does not fit the MIRT VQ320, and the firmware on the mixer may be incomplete. Turn the VQ320 off and on again, then repeat the procedure with the firmware file made for the VQ320.</source>
        <translation>Das Flash-Programm hat die Firmware-Datei abgelehnt: sie passt nicht zum MIRT VQ320, und die Firmware im Mischpult ist womöglich unvollständig. Schalten Sie das VQ320 aus und wieder ein und wiederholen Sie den Vorgang mit der für das VQ320 bestimmten Firmware-Datei.</translation>
    </message>
</context>
<context>
    <name>UpdateProcedure</name>
    <message>
        <source>Please unplug and replug USB cable connected to the MIRT VQ320</source>
        <translation>Bitte das USB-Kabel des MIRT VQ320 abziehen und wieder einstecken</translation>
    </message>
    <message>
        <source>Starting the flasher…</source>
        <translation>Das Flash-Programm wird gestartet…</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>The firmware file cannot be used, so nothing was sent to the mixer.</source>
        <translation>Die Firmware-Datei ist nicht verwendbar, daher wurde nichts an das Mischpult gesendet.</translation>
    </message>
    <message>
        <source>Update the MIRT VQ320 with this firmware?</source>
        <translation>Den MIRT VQ320 mit dieser Firmware aktualisieren?</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Waiting for the mixer&apos;s update mode (USB device 0483:df11)…</source>
        <translation>Warten auf den Aktualisierungsmodus des Mischpults (USB-Gerät 0483:df11)…</translation>
    </message>
    <message>
        <source>Waiting for access to the mixer&apos;s update mode…</source>
        <translation>Warten auf Zugriff auf den Aktualisierungsmodus des Mischpults…</translation>
    </message>
    <message>
        <source>Erasing</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>Schreiben</translation>
    </message>
    <message>
        <source>Erasing element %1 of %2</source>
        <translation>Element %1 von %2 wird gelöscht</translation>
    </message>
    <message>
        <source>Writing element %1 of %2</source>
        <translation>Element %1 von %2 wird geschrieben</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Continue the update</source>
        <translation>Aktualisierung fortsetzen</translation>
    </message>
    <message>
        <source>More than one MIRT VQ320 is connected, so nothing was sent. Leave only the mixer to update connected, then press Send again.</source>
        <translation>Mehr als ein MIRT VQ320 ist angeschlossen, daher wurde nichts gesendet. Lassen Sie nur das zu aktualisierende Mischpult angeschlossen und drücken Sie dann erneut Senden.</translation>
    </message>
    <message>
        <source>Two devices entered USB update mode at once, so the updater cannot tell which one is the MIRT VQ320 and wrote nothing. Disconnect the other device, keep the mixer connected and press Send again.</source>
        <translation>Zwei Geräte sind gleichzeitig in den USB-Aktualisierungsmodus gewechselt, daher kann das Programm nicht erkennen, welches der MIRT VQ320 ist, und hat nichts geschrieben. Trennen Sie das andere Gerät, lassen Sie das Mischpult angeschlossen und drücken Sie erneut Senden.</translation>
    </message>
    <message>
        <source>The flasher dfu-util is missing or does not work, so nothing was sent to the mixer. Reinstall the updater, or Debian&apos;s dfu-util package (sudo apt install --reinstall dfu-util), then choose the firmware again.</source>
        <translation>Das Flash-Programm dfu-util fehlt oder funktioniert nicht, daher wurde nichts an das Mischpult gesendet. Installieren Sie das Aktualisierungsprogramm oder Debians Paket dfu-util neu (sudo apt install --reinstall dfu-util) und wählen Sie dann die Firmware erneut.</translation>
    </message>
    <message>
        <source>Write this firmware to the device waiting in USB update mode?</source>
        <translation>Diese Firmware auf das Gerät schreiben, das im USB-Aktualisierungsmodus wartet?</translation>
    </message>
    <message>
        <source>If the mixer now waits in its update mode, keep the mixer connected and press Send again: the firmware is then written to it without restarting it.</source>
        <translation>Wenn das Mischpult jetzt im Aktualisierungsmodus wartet, lassen Sie es angeschlossen und drücken Sie erneut Senden: Die Firmware wird dann darauf geschrieben, ohne es neu zu starten.</translation>
    </message>
    <message>
        <source>An update is under way. Quit anyway?</source>
        <translation>Eine Aktualisierung läuft. Trotzdem beenden?</translation>
    </message>
    <message>
        <source>The flasher is stopped, and the mixer&apos;s firmware is then incomplete: the mixer stays in its update mode. To finish the update, start the updater again, keep the mixer connected and press Send.</source>
        <translation>Das Flash-Programm wird angehalten, und die Firmware des Mischpults ist dann unvollständig: Das Mischpult bleibt im Aktualisierungsmodus. Um die Aktualisierung abzuschließen, starten Sie das Programm erneut, lassen Sie das Mischpult angeschlossen und drücken Sie Senden.</translation>
    </message>
    <message>
        <source>%1

%2
%3

Confirm only if this device is the MIRT VQ320 after an interrupted update: the firmware is written to it without restarting it.</source>
        <translation>%1

%2
%3

Bestätigen Sie nur, wenn dieses Gerät der MIRT VQ320 nach einer unterbrochenen Aktualisierung ist: Die Firmware wird darauf geschrieben, ohne es neu zu starten.</translation>
    </message>
    <message>
        <source>%1
%2

The mixer restarts into its update mode at once; only a power cycle brings it back without an update.</source>
        <translation>%1
%2

Das Mischpult startet sofort im Aktualisierungsmodus neu; nur Aus- und Wiedereinschalten bringt es ohne Aktualisierung zurück.</translation>
    </message>
    <message numerus="yes">
        <source>No output from the flasher for %n second(s).</source>
        <translation>
            <numerusform>Seit %n Sekunde keine Ausgabe des Flash-Programms.</numerusform>
            <numerusform>Seit %n Sekunden keine Ausgabe des Flash-Programms.</numerusform>
        </translation>
    </message>
</context>
</TS>
