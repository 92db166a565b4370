<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="it_IT">
<context>
    <name>AboutDialog</name>
    <message>
        <source>dfu-util: not found, updates cannot run</source>
        <translation>dfu-util: non trovato, impossibile aggiornare</translation>
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
        <translation>Aggiornamento firmware Mirt VQ320 %1

Scrive il nuovo firmware nel mixer USB-MIDI Mirt VQ320.

Copyright (c) 2026 Mirt e i contributori di Aggiornamento firmware Mirt VQ320. Distribuito con licenza MIT.

%2</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Informazioni</translation>
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
        <source>no ALSA sequencer: /dev/snd/seq is missing or refused a client</source>
        <translation>nessun sequencer ALSA: /dev/snd/seq manca o ha rifiutato un client</translation>
    </message>
    <message>
        <source>this user may not open /dev/snd/seq</source>
        <translation>questo utente non può aprire /dev/snd/seq</translation>
    </message>
    <message>
        <source>error %1</source>
        <translation>errore %1</translation>
    </message>
    <message>
        <source>MIDI system not available (%1)</source>
        <translation>Sistema MIDI non disponibile (%1)</translation>
    </message>
    <message>
        <source>Not usable: %1</source>
        <translation>Non utilizzabile: %1</translation>
    </message>
    <message>
        <source>The last update was interrupted, so the mixer&apos;s firmware may be incomplete.</source>
        <translation>L&apos;ultimo aggiornamento è stato interrotto, quindi il firmware del mixer potrebbe essere incompleto.</translation>
    </message>
    <message>
        <source>If the mixer waits in its USB update mode, keep it connected, choose the firmware (%1) and press Send: the updater then writes it without restarting the mixer.</source>
        <translation>Se il mixer attende in modalità di aggiornamento USB, lasciarlo collegato, scegliere il firmware (%1) e premere Invia: il programma lo scrive senza riavviare il mixer.</translation>
    </message>
    <message>
        <source>A device waits in USB update mode: %1. If it is the MIRT VQ320 after an interrupted update, Send writes the firmware to it.</source>
        <translation>Un dispositivo attende in modalità di aggiornamento USB: %1. Se è il MIRT VQ320 dopo un aggiornamento interrotto, Invia vi scrive il firmware.</translation>
    </message>
    <message>
        <source>%1 devices wait in USB update mode. To finish the update of the MIRT VQ320, leave only the mixer connected.</source>
        <translation>%1 dispositivi attendono in modalità di aggiornamento USB. Per completare l&apos;aggiornamento del MIRT VQ320, lasciare collegato solo il mixer.</translation>
    </message>
    <message>
        <source>Send is disabled: %1 Reinstall dfu-util, then choose the firmware again.</source>
        <translation>Invia è disattivato: %1 Reinstallare dfu-util, poi scegliere di nuovo il firmware.</translation>
    </message>
</context>
<context>
    <name>DfuDevice</name>
    <message>
        <source>USB device</source>
        <translation>dispositivo USB</translation>
    </message>
    <message>
        <source>%1 (%2) at USB port %3</source>
        <translation>%1 (%2) sulla porta USB %3</translation>
    </message>
</context>
<context>
    <name>DfuFileCheck</name>
    <message>
        <source>The DfuSe image has no target.</source>
        <translation>L&apos;immagine DfuSe non ha alcun target.</translation>
    </message>
    <message>
        <source>Target %1 of the DfuSe image is missing or damaged.</source>
        <translation>Il target %1 dell&apos;immagine DfuSe manca o è danneggiato.</translation>
    </message>
    <message>
        <source>Element %1 of target %2 lies outside its target.</source>
        <translation>L&apos;elemento %1 del target %2 si trova fuori dal suo target.</translation>
    </message>
    <message>
        <source>Element %1 of target %2 claims %3 bytes; its target has only %4 left.</source>
        <translation>L&apos;elemento %1 del target %2 dichiara %3 byte; nel suo target ne restano solo %4.</translation>
    </message>
    <message>
        <source>Target %1&apos;s elements do not fill its %2 bytes.</source>
        <translation>Gli elementi del target %1 non riempiono i suoi %2 byte.</translation>
    </message>
    <message>
        <source>The DfuSe image holds no data.</source>
        <translation>L&apos;immagine DfuSe non contiene dati.</translation>
    </message>
    <message>
        <source>The file no longer exists.</source>
        <translation>Il file non esiste più.</translation>
    </message>
    <message>
        <source>This is not a regular file.</source>
        <translation>Questo non è un file normale.</translation>
    </message>
    <message>
        <source>The file cannot be read: %1</source>
        <translation>Il file non può essere letto: %1</translation>
    </message>
    <message>
        <source>The file is made for the USB device %1:%2, not for the mixer&apos;s loader 0483:df11.</source>
        <translation>Il file è destinato al dispositivo USB %1:%2, non al loader del mixer 0483:df11.</translation>
    </message>
    <message>
        <source>unnamed</source>
        <translation>senza nome</translation>
    </message>
    <message>
        <source>Element %1 of target %2 is empty.</source>
        <translation>L&apos;elemento %1 del target %2 è vuoto.</translation>
    </message>
    <message>
        <source>Element %1 of target %2 runs past the end of the address space.</source>
        <translation>L&apos;elemento %1 del target %2 va oltre la fine dello spazio di indirizzi.</translation>
    </message>
    <message>
        <source>The elements at 0x%1 and 0x%2 overlap; the mixer&apos;s memory cannot be written twice in one update.</source>
        <translation>Gli elementi a 0x%1 e 0x%2 si sovrappongono; la memoria del mixer non può essere scritta due volte in un aggiornamento.</translation>
    </message>
    <message>
        <source>The file holds raw data without the DfuSe header that the mixer&apos;s loader needs.</source>
        <translation>Il file contiene dati grezzi senza l&apos;intestazione DfuSe di cui il loader del mixer ha bisogno.</translation>
    </message>
    <message>
        <source>The file&apos;s DfuSe header is cut short.</source>
        <translation>L&apos;intestazione DfuSe del file è troncata.</translation>
    </message>
    <message>
        <source>The file&apos;s DfuSe header has an unknown format revision (%1).</source>
        <translation>L&apos;intestazione DfuSe del file ha una revisione di formato sconosciuta (%1).</translation>
    </message>
    <message>
        <source>Target %1 of the image is for alternate setting %2, which the updater does not write: that part of the firmware would be left out.</source>
        <translation>Il target %1 dell&apos;immagine è per l&apos;impostazione alternativa %2, che l&apos;aggiornamento non scrive: quella parte del firmware verrebbe tralasciata.</translation>
    </message>
    <message>
        <source>The name of target %1 holds a line break.</source>
        <translation>Il nome del target %1 contiene un a capo.</translation>
    </message>
    <message numerus="yes">
        <source>The DfuSe image has %n byte(s) after its last target.</source>
        <translation>
            <numerusform>L&apos;immagine DfuSe ha %n byte dopo l&apos;ultimo target.</numerusform>
            <numerusform>L&apos;immagine DfuSe ha %n byte dopo l&apos;ultimo target.</numerusform>
        </translation>
    </message>
    <message>
        <source>The file&apos;s name or folder holds a line break; rename it and choose it again.</source>
        <translation>Il nome del file o della sua cartella contiene un a capo; rinominarlo e sceglierlo di nuovo.</translation>
    </message>
    <message numerus="yes">
        <source>The file is too short to be firmware for the mixer (%n byte(s)).</source>
        <translation>
            <numerusform>Il file è troppo corto per essere un firmware del mixer (%n byte).</numerusform>
            <numerusform>Il file è troppo corto per essere un firmware del mixer (%n byte).</numerusform>
        </translation>
    </message>
    <message>
        <source>The file has no DFU signature at its end: it is not firmware for the mixer.</source>
        <translation>Il file non ha la firma DFU alla fine: non è un firmware per il mixer.</translation>
    </message>
    <message>
        <source>The DFU signature at the end of the file gives an impossible length (%1).</source>
        <translation>La firma DFU alla fine del file indica una lunghezza impossibile (%1).</translation>
    </message>
    <message>
        <source>The file is damaged: its checksum (%1) does not match its contents (%2).</source>
        <translation>Il file è danneggiato: il suo checksum (%1) non corrisponde al contenuto (%2).</translation>
    </message>
    <message>
        <source>The file is a plain DFU file (version %1); the mixer&apos;s loader takes only DfuSe files (version 1.1a).</source>
        <translation>Il file è un semplice file DFU (versione %1); il loader del mixer accetta solo file DfuSe (versione 1.1a).</translation>
    </message>
    <message>
        <source>The device does not describe its memory in a form the updater can read (&quot;%1&quot;), so the firmware file cannot be checked against it.</source>
        <translation>Il dispositivo non descrive la sua memoria in una forma che l&apos;aggiornamento sa leggere («%1»), quindi il file del firmware non può essere verificato.</translation>
    </message>
    <message numerus="yes">
        <source>The firmware file does not fit this device: the element at 0x%1 (%n byte(s)) lies outside the memory its update mode can write.</source>
        <translation>
            <numerusform>Il file del firmware non è adatto a questo dispositivo: l&apos;elemento a 0x%1 (%n byte) si trova fuori dalla memoria che la sua modalità di aggiornamento può scrivere.</numerusform>
            <numerusform>Il file del firmware non è adatto a questo dispositivo: l&apos;elemento a 0x%1 (%n byte) si trova fuori dalla memoria che la sua modalità di aggiornamento può scrivere.</numerusform>
        </translation>
    </message>
    <message>
        <source>Target %1 claims %L2 bytes; the file has only %L3 left.</source>
        <translation>Il target %1 dichiara %L2 byte; nel file ne restano solo %L3.</translation>
    </message>
    <message numerus="yes">
        <source>DfuSe image, target &quot;%1&quot;, %Ln element(s), %2 bytes</source>
        <translation>
            <numerusform>Immagine DfuSe, target &quot;%1&quot;, %Ln elemento, %2 byte</numerusform>
            <numerusform>Immagine DfuSe, target &quot;%1&quot;, %Ln elementi, %2 byte</numerusform>
        </translation>
    </message>
    <message>
        <source> in %L1 targets</source>
        <translation> in %L1 target</translation>
    </message>
    <message>
        <source>The file is too large to be firmware for the mixer (%L1 bytes; at most %L2).</source>
        <translation>Il file è troppo grande per essere un firmware del mixer (%L1 byte; al massimo %L2).</translation>
    </message>
</context>
<context>
    <name>FlasherCheck</name>
    <message>
        <source>%1 is missing or cannot be started.</source>
        <translation>%1 manca o non può essere avviato.</translation>
    </message>
    <message>
        <source>%1 -V did not finish.</source>
        <translation>%1 -V non è terminato.</translation>
    </message>
    <message>
        <source>%1 -V failed: %2</source>
        <translation>%1 -V non è riuscito: %2</translation>
    </message>
    <message>
        <source>no output</source>
        <translation>nessun output</translation>
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
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aiuto</translation>
    </message>
    <message>
        <source>&amp;About…</source>
        <translation>&amp;Informazioni…</translation>
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
    <message>
        <source>Firmware written</source>
        <translation>Firmware scritto</translation>
    </message>
    <message>
        <source>%1… %L2% of the firmware</source>
        <translation>%1… %L2% del firmware</translation>
    </message>
</context>
<context>
    <name>SealedImage</name>
    <message>
        <source>The firmware could not be prepared for the flasher (%1: %2).</source>
        <translation>Impossibile preparare il firmware per il programma di scrittura (%1: %2).</translation>
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
    <message>
        <source>The MIRT VQ320 was found in its update mode, but this user may not write to it. Install a udev rule for the USB device 0483:df11 (Debian&apos;s dfu-util package ships one for the desktop user; the updater&apos;s source has 49-mirt-vq320-dfu.rules), then unplug and replug the USB cable and try again.</source>
        <translation>Il MIRT VQ320 è stato trovato in modalità di aggiornamento, ma questo utente non può scriverci. Installare una regola udev per il dispositivo USB 0483:df11 (il pacchetto dfu-util di Debian ne fornisce una per l&apos;utente del desktop; i sorgenti dell&apos;updater contengono 49-mirt-vq320-dfu.rules), poi scollegare e ricollegare il cavo USB e riprovare.</translation>
    </message>
    <message>
        <source>Another device in USB update mode (DFU) is connected besides the MIRT VQ320, so nothing was written. Disconnect the other device, turn the VQ320 off and on again, and repeat the procedure.</source>
        <translation>Oltre al MIRT VQ320 è collegato un altro dispositivo in modalità di aggiornamento USB (DFU), quindi non è stato scritto nulla. Scollegare l&apos;altro dispositivo, spegnere e riaccendere il VQ320 e ripetere la procedura.</translation>
    </message>
    <message>
        <source>The flasher refused the firmware file: it does not fit the MIRT VQ320, and the firmware on the mixer may be incomplete. Turn the VQ320 off and on again, then repeat the procedure with the firmware file made for the VQ320.</source>
        <translation>Il programma di scrittura ha rifiutato il file del firmware: non è adatto al MIRT VQ320 e il firmware nel mixer potrebbe essere incompleto. Spegnere e riaccendere il VQ320, poi ripetere la procedura con il file del firmware fatto per il VQ320.</translation>
    </message>
</context>
<context>
    <name>UpdateProcedure</name>
    <message>
        <source>Please unplug and replug USB cable connected to the MIRT VQ320</source>
        <translation>Scollegare e ricollegare il cavo USB collegato al MIRT VQ320</translation>
    </message>
    <message>
        <source>Starting the flasher…</source>
        <translation>Avvio del programma di scrittura…</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>The firmware file cannot be used, so nothing was sent to the mixer.</source>
        <translation>Il file del firmware non è utilizzabile, quindi non è stato inviato nulla al mixer.</translation>
    </message>
    <message>
        <source>Update the MIRT VQ320 with this firmware?</source>
        <translation>Aggiornare il MIRT VQ320 con questo firmware?</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aggiorna</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annulla</translation>
    </message>
    <message>
        <source>Waiting for the mixer&apos;s update mode (USB device 0483:df11)…</source>
        <translation>In attesa della modalità di aggiornamento del mixer (dispositivo USB 0483:df11)…</translation>
    </message>
    <message>
        <source>Waiting for access to the mixer&apos;s update mode…</source>
        <translation>In attesa dell&apos;accesso alla modalità di aggiornamento del mixer…</translation>
    </message>
    <message>
        <source>Erasing</source>
        <translation>Cancellazione</translation>
    </message>
    <message>
        <source>Writing</source>
        <translation>Scrittura</translation>
    </message>
    <message>
        <source>Erasing element %1 of %2</source>
        <translation>Cancellazione dell&apos;elemento %1 di %2</translation>
    </message>
    <message>
        <source>Writing element %1 of %2</source>
        <translation>Scrittura dell&apos;elemento %1 di %2</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Esci</translation>
    </message>
    <message>
        <source>Continue the update</source>
        <translation>Continua l&apos;aggiornamento</translation>
    </message>
    <message>
        <source>More than one MIRT VQ320 is connected, so nothing was sent. Leave only the mixer to update connected, then press Send again.</source>
        <translation>È collegato più di un MIRT VQ320, quindi non è stato inviato nulla. Lasciare collegato solo il mixer da aggiornare, poi premere di nuovo Invia.</translation>
    </message>
    <message>
        <source>Two devices entered USB update mode at once, so the updater cannot tell which one is the MIRT VQ320 and wrote nothing. Disconnect the other device, keep the mixer connected and press Send again.</source>
        <translation>Due dispositivi sono entrati contemporaneamente in modalità di aggiornamento USB, quindi il programma non può stabilire quale sia il MIRT VQ320 e non ha scritto nulla. Scollegare l&apos;altro dispositivo, lasciare collegato il mixer e premere di nuovo Invia.</translation>
    </message>
    <message>
        <source>The flasher dfu-util is missing or does not work, so nothing was sent to the mixer. Reinstall the updater, or Debian&apos;s dfu-util package (sudo apt install --reinstall dfu-util), then choose the firmware again.</source>
        <translation>Il programma di scrittura dfu-util manca o non funziona, quindi non è stato inviato nulla al mixer. Reinstallare il programma di aggiornamento, o il pacchetto dfu-util di Debian (sudo apt install --reinstall dfu-util), poi scegliere di nuovo il firmware.</translation>
    </message>
    <message>
        <source>Write this firmware to the device waiting in USB update mode?</source>
        <translation>Scrivere questo firmware sul dispositivo che attende in modalità di aggiornamento USB?</translation>
    </message>
    <message>
        <source>If the mixer now waits in its update mode, keep the mixer connected and press Send again: the firmware is then written to it without restarting it.</source>
        <translation>Se il mixer ora attende in modalità di aggiornamento, lasciarlo collegato e premere di nuovo Invia: il firmware vi viene scritto senza riavviarlo.</translation>
    </message>
    <message>
        <source>An update is under way. Quit anyway?</source>
        <translation>È in corso un aggiornamento. Uscire comunque?</translation>
    </message>
    <message>
        <source>The flasher is stopped, and the mixer&apos;s firmware is then incomplete: the mixer stays in its update mode. To finish the update, start the updater again, keep the mixer connected and press Send.</source>
        <translation>Il programma di scrittura viene fermato e il firmware del mixer resta incompleto: il mixer rimane in modalità di aggiornamento. Per completare l&apos;aggiornamento, riavviare il programma, lasciare collegato il mixer e premere Invia.</translation>
    </message>
    <message>
        <source>%1

%2
%3

Confirm only if this device is the MIRT VQ320 after an interrupted update: the firmware is written to it without restarting it.</source>
        <translation>%1

%2
%3

Confermare solo se questo dispositivo è il MIRT VQ320 dopo un aggiornamento interrotto: il firmware vi viene scritto senza riavviarlo.</translation>
    </message>
    <message>
        <source>%1
%2

The mixer restarts into its update mode at once; only a power cycle brings it back without an update.</source>
        <translation>%1
%2

Il mixer si riavvia subito in modalità di aggiornamento; solo spegnendolo e riaccendendolo torna indietro senza aggiornamento.</translation>
    </message>
    <message numerus="yes">
        <source>No output from the flasher for %n second(s).</source>
        <translation>
            <numerusform>Nessun output dal programma di scrittura da %n secondo.</numerusform>
            <numerusform>Nessun output dal programma di scrittura da %n secondi.</numerusform>
        </translation>
    </message>
</context>
</TS>
