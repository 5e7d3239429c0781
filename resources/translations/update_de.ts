<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Configuration</name>
    <message>
        <source>Invalid version nr (%1)</source>
        <translation>Ungültige Versionsnummer (%1)</translation>
    </message>
    <message>
        <source>Update server returned no version</source>
        <translation>Der Update-Server hat keine Version geliefert</translation>
    </message>
    <message>
        <source>Update server returned invalid version nr (%1)</source>
        <translation>Der Update-Server hat eine ungültige Versionsnummer geliefert (%1)</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Failed to query latest client
version from update server.</source>
        <translation>Die neueste Client-Version konnte
nicht vom Update-Server abgefragt werden.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Stable</source>
        <translation>Stabil</translation>
    </message>
    <message>
        <source>Beta</source>
        <translation>Beta</translation>
    </message>
    <message>
        <source>Alpha</source>
        <translation>Alpha</translation>
    </message>
    <message>
        <source>Voxmere Client Update by &lt;a href=&quot;%1&quot;&gt;Voxmere&lt;/a&gt;</source>
        <translation>Voxmere Client Update von &lt;a href=&quot;%1&quot;&gt;Voxmere&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Voxmere Client Update</source>
        <translation>Voxmere Client Update</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Update to Voxmere %1</source>
        <translation>Aktualisierung auf Voxmere %1</translation>
    </message>
    <message>
        <source>You are currently on &lt;strong&gt;%1 channel&lt;/strong&gt;.</source>
        <translation>Sie nutzen derzeit den &lt;strong&gt;Kanal %1&lt;/strong&gt;.</translation>
    </message>
    <message>
        <source>Step two: Updating Voxmere client</source>
        <translation>Schritt zwei: Voxmere Client wird aktualisiert</translation>
    </message>
    <message>
        <source>Step one: Updating updater</source>
        <translation>Schritt eins: Updater wird aktualisiert</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Frage</translation>
    </message>
    <message>
        <source>&lt;p&gt;Update in progress.&lt;/p&gt;&lt;p&gt;Are you sure you want to abort?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Die Aktualisierung läuft.&lt;/p&gt;&lt;p&gt;Wollen Sie sie wirklich abbrechen?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Update cancelled</source>
        <translation>Aktualisierung abgebrochen</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
    <message>
        <source>Update cancelled. Push &quot;Details&quot; to check reasons.</source>
        <translation>Aktualisierung abgebrochen. Klicken Sie auf „Details“, um die Gründe zu sehen.</translation>
    </message>
    <message>
        <source>Confirm reboot</source>
        <translation>Neustart bestätigen</translation>
    </message>
    <message>
        <source>&lt;p&gt;A computer restart is required to proceed with the client update. If you do not reboot now, the Voxmere update will be cancelled.&lt;/p&gt;&lt;p&gt;Do you want to reboot now?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Für die weitere Aktualisierung des Clients ist ein Neustart des Computers nötig. Wenn Sie jetzt nicht neu starten, wird die Voxmere-Aktualisierung abgebrochen.&lt;/p&gt;&lt;p&gt;Wollen Sie jetzt neu starten?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Failed to store force update notice</source>
        <translation>Der Hinweis auf die erzwungene Aktualisierung konnte nicht gespeichert werden</translation>
    </message>
</context>
</TS>
