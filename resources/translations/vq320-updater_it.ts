<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT">
<context>
    <name>AppDelegate</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>Scegli</translation>
    </message>
    <message>
        <source>Locate the Mirt firmware .dfu file</source>
        <translation>Individua il file firmware Mirt .dfu</translation>
    </message>
    <message>
        <source>Mirt firmware (*.%1)</source>
        <translation>Firmware Mirt (*.%1)</translation>
    </message>
    <message>
        <source>Mirt VQ320 device connected</source>
        <translation>Dispositivo Mirt VQ320 collegato</translation>
    </message>
    <message>
        <source>Mirt VQ320 device NOT found</source>
        <translation>Dispositivo Mirt VQ320 NON trovato</translation>
    </message>
    <message>
        <source>Please unplug and replug USB cable connected to the MIRT VQ320</source>
        <translation>Scollegare e ricollegare il cavo USB collegato al MIRT VQ320</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Mirt VQ320 Firmware Updater</source>
        <translation>Aggiornamento firmware Mirt VQ320</translation>
    </message>
    <message>
        <source>Firmware file:</source>
        <translation>File del firmware:</translation>
    </message>
    <message>
        <source>&amp;Choose…</source>
        <translation>&amp;Scegli…</translation>
    </message>
    <message>
        <source>Choose the firmware .dfu file (Ctrl+O)</source>
        <translation>Scegli il file firmware .dfu (Ctrl+O)</translation>
    </message>
    <message>
        <source>&amp;Send</source>
        <translation>&amp;Invia</translation>
    </message>
    <message>
        <source>Write the firmware to the mixer (Ctrl+Return)</source>
        <translation>Scrivi il firmware nel mixer (Ctrl+Invio)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>&amp;Choose Firmware…</source>
        <translation>&amp;Scegli firmware…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Esci</translation>
    </message>
</context>
<context>
    <name>ProgressDLG</name>
    <message>
        <source>Updating the firmware</source>
        <translation>Aggiornamento del firmware</translation>
    </message>
    <message>
        <source>Writing the firmware to the Mirt VQ320.
Please wait and keep the USB cable connected.</source>
        <translation>Scrittura del firmware nel Mirt VQ320.
Attendere e lasciare collegato il cavo USB.</translation>
    </message>
    <message>
        <source>Working</source>
        <translation>In corso</translation>
    </message>
</context>
<context>
    <name>UpdateOutcome</name>
    <message>
        <source>Timeout error: the device does not respond. Please repeat the procedure.</source>
        <translation>Errore di timeout: il dispositivo non risponde. Ripetere la procedura.</translation>
    </message>
    <message>
        <source>Sorry, it was not possible to complete the transfer. Repeat the procedure.</source>
        <translation>Spiacenti, non è stato possibile completare il trasferimento. Ripetere la procedura.</translation>
    </message>
    <message>
        <source>Update in progress...</source>
        <translation>Aggiornamento in corso...</translation>
    </message>
    <message>
        <source>Please refer to the instructions on the display of the MIRT VQ320 to complete the update</source>
        <translation>Seguire le istruzioni sul display del MIRT VQ320 per completare l&apos;aggiornamento</translation>
    </message>
    <message>
        <source>Sorry, MIRT VQ320 not found. Please check the USB connection and try again.</source>
        <translation>Spiacenti, MIRT VQ320 non trovato. Controllare il collegamento USB e riprovare.</translation>
    </message>
    <message>
        <source>Error: library not found. Please quit the application and run again the installer.</source>
        <translation>Errore: libreria non trovata. Chiudere l&apos;applicazione ed eseguire di nuovo l&apos;installazione.</translation>
    </message>
    <message>
        <source>ERROR: transfer not completed. Please first turn OFF and then turn ON again the VQ320, check the USB connection and try again.</source>
        <translation>ERRORE: trasferimento non completato. Spegnere e poi riaccendere il VQ320, controllare il collegamento USB e riprovare.</translation>
    </message>
</context>
</TS>
