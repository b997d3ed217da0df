<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>ControlTitle</name>
    <message>
        <source>Auto Exposure</source>
        <translation>Automatische Belichtung</translation>
    </message>
    <message>
        <source>Exposure</source>
        <translation>Belichtung</translation>
    </message>
    <message>
        <source>Auto Focus</source>
        <translation>Autofokus</translation>
    </message>
    <message>
        <source>Focus</source>
        <translation>Fokus</translation>
    </message>
    <message>
        <source>Auto White Balance</source>
        <translation>Automatischer Weißabgleich</translation>
    </message>
    <message>
        <source>Temperature</source>
        <translation>Farbtemperatur</translation>
    </message>
    <message>
        <source>Anti-Flicker</source>
        <translation>Flimmerschutz</translation>
    </message>
    <message>
        <source>Brightness</source>
        <translation>Helligkeit</translation>
    </message>
    <message>
        <source>Contrast</source>
        <translation>Kontrast</translation>
    </message>
    <message>
        <source>Saturation</source>
        <translation>Sättigung</translation>
    </message>
    <message>
        <source>Sharpness</source>
        <translation>Schärfe</translation>
    </message>
    <message>
        <source>Gamma</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>Hue</source>
        <translation>Farbton</translation>
    </message>
    <message>
        <source>Gain</source>
        <translation>Verstärkung</translation>
    </message>
    <message>
        <source>Backlight</source>
        <translation>Gegenlicht</translation>
    </message>
    <message>
        <source>Flip Horizontally</source>
        <translation>Horizontal spiegeln</translation>
    </message>
    <message>
        <source>HDR</source>
        <translation>HDR</translation>
    </message>
    <message>
        <source>Pickup</source>
        <translation>Aufnahmebereich</translation>
    </message>
    <message>
        <source>Field of View</source>
        <translation>Bildwinkel</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>Pan</source>
        <translation>Schwenken</translation>
    </message>
    <message>
        <source>Tilt</source>
        <translation>Neigen</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>This camera has no manual white balance.</source>
        <translation>Diese Kamera hat keinen manuellen Weißabgleich.</translation>
    </message>
    <message>
        <source>This camera has no manual exposure.</source>
        <translation>Diese Kamera hat keine manuelle Belichtung.</translation>
    </message>
    <message>
        <source>White balance set to %1 K</source>
        <translation>Weißabgleich auf %1 K gesetzt</translation>
    </message>
    <message>
        <source>Exposure set to %1</source>
        <translation>Belichtung auf %1 gesetzt</translation>
    </message>
    <message>
        <source>Couldn&apos;t read that spot — pick a brighter neutral area.</source>
        <translation>Diese Stelle ließ sich nicht messen – wählen Sie eine hellere neutrale Fläche.</translation>
    </message>
    <message>
        <source>Couldn&apos;t read that spot.</source>
        <translation>Diese Stelle ließ sich nicht messen.</translation>
    </message>
    <message>
        <source>%1 does not answer.</source>
        <translation>%1 antwortet nicht.</translation>
    </message>
    <message>
        <source>Couldn&apos;t save your settings (%1: %2).</source>
        <translation>Ihre Einstellungen konnten nicht gespeichert werden (%1: %2).</translation>
    </message>
    <message>
        <source>Couldn&apos;t reset the camera (%1, %2).</source>
        <translation>Die Kamera konnte nicht zurückgesetzt werden (%1, %2).</translation>
    </message>
    <message>
        <source>Couldn&apos;t change Launch at Login: %1</source>
        <translation>„Bei der Anmeldung starten“ konnte nicht geändert werden: %1</translation>
    </message>
    <message>
        <source>success</source>
        <translation>Erfolg</translation>
    </message>
    <message>
        <source>the camera is not connected</source>
        <translation>die Kamera ist nicht angeschlossen</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>in use by another program</source>
        <translation>von einem anderen Programm belegt</translation>
    </message>
    <message>
        <source>value not accepted</source>
        <translation>Wert nicht angenommen</translation>
    </message>
    <message>
        <source>not supported by the camera</source>
        <translation>von der Kamera nicht unterstützt</translation>
    </message>
    <message>
        <source>input/output error</source>
        <translation>Ein-/Ausgabefehler</translation>
    </message>
    <message>
        <source>refused by the camera</source>
        <translation>von der Kamera abgelehnt</translation>
    </message>
    <message>
        <source>the camera did not answer</source>
        <translation>die Kamera hat nicht geantwortet</translation>
    </message>
    <message>
        <source>out of memory</source>
        <translation>nicht genug Speicher</translation>
    </message>
    <message>
        <source>unexpected error</source>
        <translation>unerwarteter Fehler</translation>
    </message>
    <message>
        <source>cannot open %1: %2 — see docs/hardware.md</source>
        <translation>%1 lässt sich nicht öffnen: %2 – siehe docs/hardware.md</translation>
    </message>
    <message>
        <source>cannot open %1: %2</source>
        <translation>%1 lässt sich nicht öffnen: %2</translation>
    </message>
    <message>
        <source>cannot open %1 (%2): %3 — see docs/hardware.md</source>
        <translation>%1 (%2) lässt sich nicht öffnen: %3 – siehe docs/hardware.md</translation>
    </message>
    <message>
        <source>cannot open %1 (%2): %3</source>
        <translation>%1 (%2) lässt sich nicht öffnen: %3</translation>
    </message>
    <message>
        <source>GStreamer element &apos;%1&apos; is missing</source>
        <translation>Das GStreamer-Element „%1“ fehlt</translation>
    </message>
    <message>
        <source>GStreamer element &apos;%1&apos; is missing (install %2)</source>
        <translation>Das GStreamer-Element „%1“ fehlt (installieren Sie %2)</translation>
    </message>
    <message>
        <source>%1 (PID %2) is using the camera.</source>
        <translation>%1 (PID %2) verwendet die Kamera.</translation>
    </message>
    <message>
        <source>The camera is in use by another application.</source>
        <translation>Die Kamera wird von einer anderen Anwendung verwendet.</translation>
    </message>
    <message>
        <source>%1 is in use by another application.</source>
        <translation>%1 wird von einer anderen Anwendung verwendet.</translation>
    </message>
    <message>
        <source>GStreamer cannot decode the video of %1 (install gstreamer1.0-plugins-good, and gstreamer1.0-libav for H.264).</source>
        <translation>GStreamer kann das Video von %1 nicht dekodieren (installieren Sie gstreamer1.0-plugins-good und für H.264 gstreamer1.0-libav).</translation>
    </message>
    <message>
        <source>Could not save the snapshot: %1 is not writable.</source>
        <translation>Der Schnappschuss konnte nicht gespeichert werden: %1 ist nicht beschreibbar.</translation>
    </message>
    <message>
        <source>Could not save the snapshot: %1 is on a read-only disk.</source>
        <translation>Der Schnappschuss konnte nicht gespeichert werden: %1 liegt auf einem schreibgeschützten Datenträger.</translation>
    </message>
    <message>
        <source>Could not save the snapshot: the disk holding %1 is full.</source>
        <translation>Der Schnappschuss konnte nicht gespeichert werden: Der Datenträger mit %1 ist voll.</translation>
    </message>
    <message>
        <source>Could not save the snapshot: %1 is not a folder.</source>
        <translation>Der Schnappschuss konnte nicht gespeichert werden: %1 ist kein Ordner.</translation>
    </message>
    <message>
        <source>Could not save the snapshot: %1 could not be written (%2).</source>
        <translation>Der Schnappschuss konnte nicht gespeichert werden: %1 konnte nicht beschrieben werden (%2).</translation>
    </message>
    <message>
        <source>Could not save the snapshot: the camera&apos;s picture could not be read.</source>
        <translation>Der Schnappschuss konnte nicht gespeichert werden: Das Bild der Kamera war nicht lesbar.</translation>
    </message>
    <message>
        <source>Couldn&apos;t read your settings (%1: %2). The defaults apply, and the file is left as it is.</source>
        <translation>Ihre Einstellungen konnten nicht gelesen werden (%1: %2). Es gelten die Voreinstellungen, und die Datei bleibt, wie sie ist.</translation>
    </message>
    <message>
        <source>Some of your settings could not be read (%1: %2). The file as it was is kept as %3.</source>
        <translation>Einige Ihrer Einstellungen konnten nicht gelesen werden (%1: %2). Die Datei, wie sie war, ist als %3 aufbewahrt.</translation>
    </message>
    <message>
        <source>Some of your settings could not be read (%1: %2), and no copy of the file could be kept: it is left as it is (%3).</source>
        <translation>Einige Ihrer Einstellungen konnten nicht gelesen werden (%1: %2), und es konnte keine Kopie der Datei aufbewahrt werden: Sie bleibt, wie sie ist (%3).</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>The update server refused the connection.</source>
        <translation>Der Update-Server hat die Verbindung abgelehnt.</translation>
    </message>
    <message>
        <source>The update server could not be found. Check that this computer is online.</source>
        <translation>Der Update-Server wurde nicht gefunden. Prüfen Sie, ob dieser Rechner mit dem Internet verbunden ist.</translation>
    </message>
    <message>
        <source>The update server closed the connection.</source>
        <translation>Der Update-Server hat die Verbindung geschlossen.</translation>
    </message>
    <message>
        <source>A secure connection to the update server could not be made.</source>
        <translation>Es konnte keine sichere Verbindung zum Update-Server hergestellt werden.</translation>
    </message>
    <message>
        <source>The update server answered “%1 %2”.</source>
        <translation>Der Update-Server antwortete „%1 %2“.</translation>
    </message>
    <message>
        <source>The download page could not be opened.</source>
        <translation>Die Download-Seite konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>Open %1 in your web browser to download the update.</source>
        <translation>Öffnen Sie %1 in Ihrem Webbrowser, um das Update herunterzuladen.</translation>
    </message>
</context>
<context>
    <name>velto::Appcast</name>
    <message>
        <source>line %1: %2</source>
        <translation>Zeile %1: %2</translation>
    </message>
    <message>
        <source>not an RSS feed</source>
        <translation>kein RSS-Feed</translation>
    </message>
    <message>
        <source>the feed has no channel</source>
        <translation>der Feed enthält keinen Kanal</translation>
    </message>
</context>
<context>
    <name>velto::SoftwareUpdate</name>
    <message>
        <source>The update server did not answer within %1 seconds.</source>
        <translation>Der Update-Server hat nicht innerhalb von %1 Sekunden geantwortet.</translation>
    </message>
    <message>
        <source>The update server sent far more than an update feed.</source>
        <translation>Der Update-Server hat weit mehr als einen Update-Feed gesendet.</translation>
    </message>
    <message>
        <source>The update feed could not be read (%1).</source>
        <translation>Der Update-Feed konnte nicht gelesen werden (%1).</translation>
    </message>
</context>
<context>
    <name>velto::UpdateDialog</name>
    <message>
        <source>Release Notes:</source>
        <translation>Versionshinweise:</translation>
    </message>
    <message>
        <source>Skip This Version</source>
        <translation>Diese Version überspringen</translation>
    </message>
    <message>
        <source>Remind Me Later</source>
        <translation>Später erinnern</translation>
    </message>
    <message>
        <source>Download…</source>
        <translation>Herunterladen …</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Checking for updates…</source>
        <translation>Nach Updates wird gesucht …</translation>
    </message>
    <message>
        <source>A new version of Velto Camera is available!</source>
        <translation>Eine neue Version von Velto Camera ist verfügbar!</translation>
    </message>
    <message>
        <source>Velto Camera %1 is now available; you have %2. Would you like to download it now?</source>
        <translation>Velto Camera %1 ist jetzt verfügbar; Sie haben %2. Möchten Sie die neue Version jetzt herunterladen?</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;a href=&quot;%1&quot;&gt;Read the release notes for version %2&lt;/a&gt;&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;a href=&quot;%1&quot;&gt;Versionshinweise zu Version %2 lesen&lt;/a&gt;&lt;/p&gt;</translation>
    </message>
    <message>
        <source>No release notes were published for this version.</source>
        <translation>Zu dieser Version wurden keine Versionshinweise veröffentlicht.</translation>
    </message>
    <message>
        <source>You&apos;re up to date!</source>
        <translation>Sie sind auf dem neuesten Stand!</translation>
    </message>
    <message>
        <source>Velto Camera %1 is currently the newest version available.</source>
        <translation>Velto Camera %1 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>Velto Camera could not check for updates.</source>
        <translation>Velto Camera konnte nicht nach Updates suchen.</translation>
    </message>
</context>
<context>
    <name>velto::app::MenuBarView</name>
    <message>
        <source>Reset Camera</source>
        <translation>Kamera zurücksetzen</translation>
    </message>
    <message>
        <source>Reset Camera: reconnect it on USB, as if unplugged and plugged back in. Use if the picture is black or frozen.</source>
        <translation>Kamera zurücksetzen: am USB neu verbinden, als wäre sie aus- und wieder eingesteckt worden. Hilft, wenn das Bild schwarz ist oder stillsteht.</translation>
    </message>
    <message>
        <source>Open Velto Camera</source>
        <translation>Fenster öffnen</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Updates suchen …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Voreinstellungen</translation>
    </message>
    <message>
        <source>Refocus</source>
        <translation>Neu fokussieren</translation>
    </message>
    <message>
        <source>Restart autofocus if the image is soft</source>
        <translation>Autofokus neu starten, wenn das Bild unscharf ist</translation>
    </message>
    <message>
        <source>Camera connected</source>
        <translation>Kamera verbunden</translation>
    </message>
    <message>
        <source>No camera</source>
        <translation>Keine Kamera</translation>
    </message>
    <message>
        <source>No camera connected</source>
        <translation>Keine Kamera angeschlossen</translation>
    </message>
    <message>
        <source>Update Available: Version %1</source>
        <translation>Update verfügbar: Version %1</translation>
    </message>
    <message>
        <source>Take Snapshot: save the picture at the camera&apos;s full resolution in Pictures/Velto Camera</source>
        <translation>Schnappschuss aufnehmen: das Bild in voller Auflösung der Kamera unter Bilder/Velto Camera speichern</translation>
    </message>
</context>
<context>
    <name>velto::app::MiniPreview</name>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Camera access needed for preview</source>
        <translation>Für die Vorschau wird Zugriff auf die Kamera benötigt</translation>
    </message>
</context>
<context>
    <name>velto::app::VeltoCameraApp</name>
    <message>
        <source>Close Window</source>
        <translation>Fenster schließen</translation>
    </message>
    <message>
        <source>About Velto Camera</source>
        <translation>Über Velto Camera</translation>
    </message>
    <message>
        <source>Settings for USB webcams and the Anker PowerConf C200, kept in the camera itself.</source>
        <translation>Einstellungen für USB-Webcams und die Anker PowerConf C200, gespeichert in der Kamera selbst.</translation>
    </message>
    <message>
        <source>Open Velto Camera</source>
        <translation>Velto Camera öffnen</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Updates suchen …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>velto::views::ControlSlider</name>
    <message>
        <source>Auto · %1</source>
        <translation>Auto · %1</translation>
    </message>
    <message>
        <source>Reset to Default (%1)</source>
        <translation>Auf Standardwert zurücksetzen (%1)</translation>
    </message>
</context>
<context>
    <name>velto::views::ControlsSidebar</name>
    <message>
        <source>Camera settings</source>
        <translation>Kameraeinstellungen</translation>
    </message>
    <message>
        <source>No Camera Connected</source>
        <translation>Keine Kamera angeschlossen</translation>
    </message>
    <message>
        <source>Plug in your Anker PowerConf C200 and it will appear here.</source>
        <translation>Schließen Sie Ihre Anker PowerConf C200 an, dann erscheint sie hier.</translation>
    </message>
    <message>
        <source>Auto</source>
        <extracomment>The auto-mode switch at the top of a section (Exposure, White Balance, Focus).</extracomment>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Exposure</source>
        <translation>Belichtung</translation>
    </message>
    <message>
        <source>This camera sets its exposure by itself.</source>
        <translation>Diese Kamera regelt ihre Belichtung selbst.</translation>
    </message>
    <message>
        <source>White Balance</source>
        <translation>Weißabgleich</translation>
    </message>
    <message>
        <source>This camera sets its white balance by itself.</source>
        <translation>Diese Kamera regelt ihren Weißabgleich selbst.</translation>
    </message>
    <message>
        <source>Focus</source>
        <translation>Fokus</translation>
    </message>
    <message>
        <source>This camera has a fixed focus.</source>
        <translation>Diese Kamera hat einen festen Fokus.</translation>
    </message>
    <message>
        <source>Refocus</source>
        <translation>Neu fokussieren</translation>
    </message>
    <message>
        <source>Restart autofocus if the image is soft</source>
        <translation>Autofokus neu starten, wenn das Bild unscharf ist</translation>
    </message>
    <message>
        <source>Image</source>
        <translation>Bild</translation>
    </message>
    <message>
        <source>This camera offers no image adjustments.</source>
        <translation>Diese Kamera bietet keine Bildeinstellungen.</translation>
    </message>
    <message>
        <source>Tames bright windows and lights at the cost of a slightly darker image.</source>
        <translation>Dämpft helle Fenster und Lampen, dafür wird das Bild etwas dunkler.</translation>
    </message>
    <message>
        <source>Mirrors the camera&apos;s output in every app.</source>
        <translation>Spiegelt das Bild der Kamera in jeder Anwendung.</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>360° Room</source>
        <translation>360° Raum</translation>
    </message>
    <message>
        <source>90° Front</source>
        <translation>90° vorne</translation>
    </message>
    <message>
        <source>90° focuses on the person in front of the camera; 360° picks up the whole room</source>
        <translation>90° hört auf die Person vor der Kamera; 360° nimmt den ganzen Raum auf</translation>
    </message>
    <message>
        <source>Framing</source>
        <translation>Bildausschnitt</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Reset framing</source>
        <translation>Bildausschnitt zurücksetzen</translation>
    </message>
    <message>
        <source>Camera preset; sets zoom to 1.00×, 1.75× or 2.95×</source>
        <translation>Vorgabe der Kamera; setzt den Zoom auf 1.00×, 1.75× oder 2.95×</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <source>Reset Camera</source>
        <translation>Kamera zurücksetzen</translation>
    </message>
    <message>
        <source>Reconnect the camera on USB, as if unplugged and plugged back in. Use if the picture is black or frozen.</source>
        <translation>Verbindet die Kamera am USB neu, als wäre sie aus- und wieder eingesteckt worden. Hilft, wenn das Bild schwarz ist oder stillsteht.</translation>
    </message>
    <message>
        <source>Behavior</source>
        <translation>Verhalten</translation>
    </message>
    <message>
        <source>Keep settings locked</source>
        <translation>Einstellungen festhalten</translation>
    </message>
    <message>
        <source>Reapplies your settings if the camera resets or another app changes them.</source>
        <translation>Stellt Ihre Einstellungen wieder her, wenn sich die Kamera zurücksetzt oder eine andere Anwendung sie ändert.</translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Open this window at launch</source>
        <translation>Dieses Fenster beim Start öffnen</translation>
    </message>
    <message>
        <source>Reset Camera to Defaults…</source>
        <translation>Kamera auf Standardwerte zurücksetzen …</translation>
    </message>
    <message>
        <source>Set every control of the camera back to the camera&apos;s own default. Asks first.</source>
        <translation>Setzt jede Einstellung der Kamera auf den Standardwert der Kamera zurück. Fragt vorher nach.</translation>
    </message>
    <message>
        <source>Reset Camera to Defaults</source>
        <translation>Kamera auf Standardwerte zurücksetzen</translation>
    </message>
    <message>
        <source>Reset every camera setting to its factory default?</source>
        <translation>Alle Einstellungen der Kamera auf die Werkseinstellungen zurücksetzen?</translation>
    </message>
    <message>
        <source>Resetting…</source>
        <translation>Wird zurückgesetzt …</translation>
    </message>
</context>
<context>
    <name>velto::views::FormatPicker</name>
    <message>
        <source>Video format</source>
        <translation>Videoformat</translation>
    </message>
    <message>
        <source>The format, size and frame rate the camera sends. Automatic picks the largest picture up to 1920 × 1080 at the best rate.</source>
        <translation>Format, Größe und Bildrate, die die Kamera sendet. „Automatisch“ wählt das größte Bild bis 1920 × 1080 mit der besten Bildrate.</translation>
    </message>
    <message>
        <source>%1 × %2 · %3 fps · %4</source>
        <translation>%1 × %2 · %3 B/s · %4</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
</context>
<context>
    <name>velto::views::FramingPad</name>
    <message>
        <source>Drag to pan and tilt the zoomed view</source>
        <translation>Ziehen, um den vergrößerten Ausschnitt zu schwenken und zu neigen</translation>
    </message>
    <message>
        <source>Zoom in to pan and tilt</source>
        <translation>Zum Schwenken und Neigen vergrößern</translation>
    </message>
    <message>
        <source>Pan and tilt</source>
        <translation>Schwenken und Neigen</translation>
    </message>
    <message>
        <source>Arrow keys move the view and Home centres it. Anywhere in the window: Ctrl+Shift with the arrow keys or Home, and Ctrl++ and Ctrl+- to zoom.</source>
        <translation>Pfeiltasten verschieben den Ausschnitt, Pos1 zentriert ihn. Überall im Fenster: Strg+Umschalt mit den Pfeiltasten oder Pos1, und Strg++ und Strg+- zum Zoomen.</translation>
    </message>
</context>
<context>
    <name>velto::views::HistogramView</name>
    <message>
        <source>Histogram</source>
        <translation>Histogramm</translation>
    </message>
    <message>
        <source>Shadows</source>
        <translation>Schatten</translation>
    </message>
    <message>
        <source>Highlights</source>
        <translation>Lichter</translation>
    </message>
</context>
<context>
    <name>velto::views::MainWindow</name>
    <message>
        <source>Pick a tool, then click the preview: white balance wants something neutral grey/white; exposure wants your face or subject.</source>
        <translation>Wählen Sie ein Werkzeug und klicken Sie dann in die Vorschau: für den Weißabgleich auf etwas neutral Graues oder Weißes, für die Belichtung auf Ihr Gesicht oder Motiv.</translation>
    </message>
    <message>
        <source>Pointer</source>
        <translation>Zeiger</translation>
    </message>
    <message>
        <source>Click to Set White Balance</source>
        <translation>Weißabgleich per Klick</translation>
    </message>
    <message>
        <source>Click to Set Exposure</source>
        <translation>Belichtung per Klick</translation>
    </message>
    <message>
        <source>Darker</source>
        <translation>Dunkler</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Brighter</source>
        <translation>Heller</translation>
    </message>
    <message>
        <source>Grid</source>
        <translation>Raster</translation>
    </message>
    <message>
        <source>Rule-of-thirds grid</source>
        <translation>Drittelraster</translation>
    </message>
    <message>
        <source>Clipping</source>
        <translation>Beschnittwarnung</translation>
    </message>
    <message>
        <source>Highlight blown highlights (red) and crushed shadows (blue)</source>
        <translation>Ausgefressene Lichter (rot) und abgesoffene Schatten (blau) hervorheben</translation>
    </message>
    <message>
        <source>Histogram</source>
        <translation>Histogramm</translation>
    </message>
    <message>
        <source>Mirror</source>
        <translation>Spiegeln</translation>
    </message>
    <message>
        <source>Mirror the preview (affects only this window, not other apps)</source>
        <translation>Vorschau spiegeln (betrifft nur dieses Fenster, nicht andere Anwendungen)</translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation>Werkzeugleiste</translation>
    </message>
    <message>
        <source>Tool</source>
        <translation>Werkzeug</translation>
    </message>
    <message>
        <source>Target</source>
        <translation>Ziel</translation>
    </message>
    <message>
        <source>How bright the clicked spot should end up</source>
        <translation>Wie hell die angeklickte Stelle werden soll</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menü</translation>
    </message>
    <message>
        <source>Saves the picture at the camera&apos;s full resolution in Pictures/Velto Camera</source>
        <translation>Speichert das Bild in voller Auflösung der Kamera unter Bilder/Velto Camera</translation>
    </message>
    <message>
        <source>Pan and Zoom</source>
        <translation>Schwenken und Zoomen</translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Pan Left</source>
        <translation>Nach links schwenken</translation>
    </message>
    <message>
        <source>Pan Right</source>
        <translation>Nach rechts schwenken</translation>
    </message>
    <message>
        <source>Tilt Up</source>
        <translation>Nach oben neigen</translation>
    </message>
    <message>
        <source>Tilt Down</source>
        <translation>Nach unten neigen</translation>
    </message>
    <message>
        <source>Centre the View</source>
        <translation>Ausschnitt zentrieren</translation>
    </message>
</context>
<context>
    <name>velto::views::OptionPicker</name>
    <message>
        <source>%1: %2</source>
        <extracomment>A segment of a picker as a screen reader names it: the control, then the option.</extracomment>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>velto::views::PowerLinePicker</name>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>50 Hz</source>
        <translation>50 Hz</translation>
    </message>
    <message>
        <source>60 Hz</source>
        <translation>60 Hz</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Match your mains frequency (60 Hz in North America) to stop banding under artificial light</source>
        <translation>Wählen Sie Ihre Netzfrequenz (in Nordamerika 60 Hz), damit unter Kunstlicht keine Streifen im Bild erscheinen</translation>
    </message>
</context>
<context>
    <name>velto::views::PresetNameDialog</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Another preset is already called “%1”. Saving keeps both.</source>
        <translation>Eine andere Voreinstellung heißt bereits „%1“. Beim Speichern bleiben beide erhalten.</translation>
    </message>
    <message numerus="yes">
        <source>A name has at most %n characters.</source>
        <translation>
            <numerusform>Ein Name hat höchstens %n Zeichen.</numerusform>
            <numerusform>Ein Name hat höchstens %n Zeichen.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>velto::views::PresetsSection</name>
    <message>
        <source>Presets</source>
        <translation>Voreinstellungen</translation>
    </message>
    <message>
        <source>Save current settings as a preset</source>
        <translation>Aktuelle Einstellungen als Voreinstellung speichern</translation>
    </message>
    <message>
        <source>Save your current settings as a preset to switch looks in one click.</source>
        <translation>Speichern Sie Ihre aktuellen Einstellungen als Voreinstellung, um mit einem Klick zwischen Bildstilen zu wechseln.</translation>
    </message>
    <message>
        <source>Active</source>
        <extracomment>Said of the preset whose values the camera has now.</extracomment>
        <translation>Aktiv</translation>
    </message>
    <message>
        <source>Update with Current Settings</source>
        <translation>Mit aktuellen Einstellungen aktualisieren</translation>
    </message>
    <message>
        <source>Rename…</source>
        <translation>Umbenennen …</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Rename Preset</source>
        <translation>Voreinstellung umbenennen</translation>
    </message>
    <message>
        <source>Save Preset</source>
        <translation>Voreinstellung speichern</translation>
    </message>
    <message numerus="yes">
        <source>There are %n presets, the most there can be. Delete one to save another.</source>
        <translation>
            <numerusform>Es gibt %n Voreinstellung, mehr sind nicht möglich. Löschen Sie eine, um eine weitere zu speichern.</numerusform>
            <numerusform>Es gibt %n Voreinstellungen, mehr sind nicht möglich. Löschen Sie eine, um eine weitere zu speichern.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>velto::views::PreviewPane</name>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Camera Access Needed</source>
        <translation>Kamerazugriff erforderlich</translation>
    </message>
    <message>
        <source>Velto Camera can&apos;t open the camera&apos;s video device (permission denied). Add your user to the video group or install the udev rule, then reconnect the camera. Controls work without it.</source>
        <translation>Velto Camera kann das Videogerät der Kamera nicht öffnen (Zugriff verweigert). Fügen Sie Ihren Benutzer der Gruppe „video“ hinzu oder installieren Sie die udev-Regel und schließen Sie die Kamera dann neu an. Die Einstellungen lassen sich auch ohne Vorschau ändern.</translation>
    </message>
    <message>
        <source>No Camera</source>
        <translation>Keine Kamera</translation>
    </message>
    <message>
        <source>Connect your camera to see a preview.</source>
        <translation>Schließen Sie Ihre Kamera an, um eine Vorschau zu sehen.</translation>
    </message>
    <message>
        <source>Camera in Use</source>
        <translation>Kamera belegt</translation>
    </message>
    <message>
        <source>%1 Close the other application to see the preview here. Controls work without it.</source>
        <extracomment>%1 says which camera is in use, or which program (and PID) uses it.</extracomment>
        <translation>%1 Schließen Sie die andere Anwendung, um hier die Vorschau zu sehen. Die Einstellungen lassen sich auch ohne Vorschau ändern.</translation>
    </message>
    <message>
        <source>No Preview</source>
        <translation>Keine Vorschau</translation>
    </message>
    <message>
        <source>Click something that should be white or grey</source>
        <translation>Klicken Sie auf etwas, das weiß oder grau sein sollte</translation>
    </message>
    <message>
        <source>Click the spot that should be correctly exposed</source>
        <translation>Klicken Sie auf die Stelle, die richtig belichtet sein soll</translation>
    </message>
    <message>
        <source>Paused while %1 (PID %2) uses the camera</source>
        <extracomment>%1 is the program that uses the camera now, %2 its process ID.</extracomment>
        <translation>Angehalten, solange %1 (PID %2) die Kamera verwendet</translation>
    </message>
</context>
<context>
    <name>velto::views::RecoveringBadge</name>
    <message>
        <source>Reconnecting camera…</source>
        <translation>Kamera wird neu verbunden …</translation>
    </message>
</context>
<context>
    <name>velto::views::SnapshotCommand</name>
    <message>
        <source>Take Snapshot</source>
        <translation>Schnappschuss aufnehmen</translation>
    </message>
    <message>
        <source>Snapshot Not Saved</source>
        <translation>Schnappschuss nicht gespeichert</translation>
    </message>
    <message>
        <source>Snapshot Saved</source>
        <translation>Schnappschuss gespeichert</translation>
    </message>
    <message>
        <source>%1 in %2</source>
        <extracomment>%1 is the picture&apos;s file name, %2 the folder it is in.</extracomment>
        <translation>%1 in %2</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation>Im Ordner anzeigen</translation>
    </message>
    <message>
        <source>Snapshot saved to %1</source>
        <extracomment>%1 is the folder the picture went to.</extracomment>
        <translation>Schnappschuss gespeichert in %1</translation>
    </message>
</context>
</TS>
