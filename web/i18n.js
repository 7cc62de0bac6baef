// The page's words in English, Czech and Slovak: the language comes from the browser's list
// unless the person chose one, and every text on the page is drawn from here, so that a switch
// of language redraws the page without reloading it.
'use strict';

(function () {
  const tonbrix = (window.tonbrix ??= {});
  const LANGUAGES = ['en', 'cs', 'sk'];
  const STORAGE_KEY = 'tonbrix.language';

  // Each text as [English, Czech, Slovak]. A text that counts something is an object of the
  // plural forms Intl.PluralRules names; {name} stands for a value given when it is drawn.
  const TEXTS = {
    title: ['Tonbrix: PMD 85 and Mato tapes in the browser', 'Tonbrix: kazety PMD 85 a Mato v prohlížeči',
      'Tonbrix: kazety PMD 85 a Mato v prehliadači'],
    intro: ['Play PMD 85 and Mato tape images into the machine, and turn cassette recordings back into tape images. Everything runs in this page: no file leaves your device.',
      'Nahrajte obrazy pásek PMD 85 a Mato do počítače a nahrávky z kazet převeďte zpět na obrazy pásek. Vše běží v této stránce: žádný soubor neopustí vaše zařízení.',
      'Nahrajte obrazy pások PMD 85 a Mato do počítača a nahrávky z kaziet preveďte späť na obrazy pások. Všetko beží v tejto stránke: žiadny súbor neopustí vaše zariadenie.'],
    language: ['Language', 'Jazyk', 'Jazyk'],
    skip: ['Skip to the playback controls', 'Přeskočit na ovládání přehrávání', 'Preskočiť na ovládanie prehrávania'],
    tapeHeading: ['Play a tape image', 'Přehrát obraz pásky', 'Prehrať obraz pásky'],
    tapeFile: ['Tape image or ZIP', 'Obraz pásky nebo ZIP', 'Obraz pásky alebo ZIP'],
    dropIt: ['or drop it here', 'nebo ho sem přetáhněte', 'alebo ho sem pretiahnite'],
    dropThem: ['or drop them here', 'nebo je sem přetáhněte', 'alebo ich sem pretiahnite'],
    volumeNote: ['Set the volume to maximum and switch off sound effects and notification sounds before you play a tape into the machine.',
      'Než začnete do počítače nahrávat, nastavte hlasitost na maximum a vypněte zvukové efekty a zvuky oznámení.',
      'Skôr než začnete do počítača nahrávať, nastavte hlasitosť na maximum a vypnite zvukové efekty a zvuky upozornení.'],
    digitiseIt: ['Digitise it', 'Digitalizovat', 'Digitalizovať'],
    playOptions: ['What and how to play', 'Co a jak přehrát', 'Čo a ako prehrať'],
    blockList: ['Block list', 'Seznam bloků', 'Zoznam blokov'],
    blockListHelp: ['e.g. 3,5,8-11,1: order and repeats count', 'např. 3,5,8-11,1: platí pořadí i opakování',
      'napr. 3,5,8-11,1: platí poradie aj opakovanie'],
    protocol: ['Protocol', 'Formát záznamu', 'Formát záznamu'],
    pmd: ['PMD 85', 'PMD 85', 'PMD 85'],
    pmdDouble: ['PMD 85 double speed', 'PMD 85 dvojnásobná rychlost', 'PMD 85 dvojnásobná rýchlosť'],
    mato: ['Mato', 'Mato', 'Mato'],
    sampleRate: ['Sample rate', 'Vzorkovací frekvence', 'Vzorkovacia frekvencia'],
    amplitude: ['Amplitude (1 to 127)', 'Amplituda (1 až 127)', 'Amplitúda (1 až 127)'],
    gap: ['Gap before header blocks (seconds)', 'Mezera před hlavičkami (sekundy)', 'Medzera pred hlavičkami (sekundy)'],
    reversePhase: ['Reversed phase', 'Obrácená fáze', 'Obrátená fáza'],
    colPlay: ['Play', 'Hrát', 'Hrať'],
    colName: ['Name', 'Jméno', 'Meno'],
    colBegin: ['Begin', 'Začátek', 'Začiatok'],
    colLength: ['Length', 'Délka', 'Dĺžka'],
    colFaults: ['Faults', 'Chyby', 'Chyby'],
    colStarts: ['Starts', 'Začíná', 'Začína'],
    colLasts: ['Lasts', 'Trvá', 'Trvá'],
    colFromHere: ['From here', 'Odsud', 'Odtiaľto'],
    colTakes: ['Takes', 'Záznamy', 'Záznamy'],
    colTime: ['Time', 'Čas', 'Čas'],
    colChecksums: ['Checksums', 'Kontrolní součty', 'Kontrolné súčty'],
    legendSummary: ['What the columns and marks mean', 'Co znamenají sloupce a značky', 'Čo znamenajú stĺpce a značky'],
    legendPlay: ['Ticked blocks are played, in the order of the block list.', 'Zaškrtnuté bloky se přehrají v pořadí podle seznamu bloků.',
      'Zaškrtnuté bloky sa prehrajú v poradí podľa zoznamu blokov.'],
    legendBlk: ["The block's number in the image, as the block list counts.", 'Číslo bloku v obrazu pásky, jak ho počítá seznam bloků.',
      'Číslo bloku v obraze pásky, ako ho počíta zoznam blokov.'],
    legendNr: ["The file's number and type as the machine shows them; ... for a block without a header.",
      'Číslo a typ souboru, jak je ukazuje počítač; ... u bloku bez hlavičky.',
      'Číslo a typ súboru, ako ich ukazuje počítač; ... pri bloku bez hlavičky.'],
    legendBeginTerm: ['Begin, Length', 'Začátek, Délka', 'Začiatok, Dĺžka'],
    legendBegin: ['Where the body loads in memory and how many bytes it has.', 'Kam se tělo bloku nahraje do paměti a kolik má bajtů.',
      'Kam sa telo bloku nahrá do pamäte a koľko má bajtov.'],
    legendStartsTerm: ['Starts, Lasts', 'Začíná, Trvá', 'Začína, Trvá'],
    legendStarts: ['Where the block starts in the sound played and how long it lasts, its gap included.',
      'Kde blok začíná v přehrávaném zvuku a jak dlouho trvá, včetně mezery.',
      'Kde blok začína v prehrávanom zvuku a ako dlho trvá, vrátane medzery.'],
    downloadWav: ['Download WAV', 'Stáhnout WAV', 'Stiahnuť WAV'],
    playback: ['Playback', 'Přehrávání', 'Prehrávanie'],
    previous: ['Previous', 'Předchozí', 'Predošlý'],
    previousBlock: ['Previous block', 'Předchozí blok', 'Predošlý blok'],
    play: ['Play', 'Přehrát', 'Prehrať'],
    pause: ['Pause', 'Pozastavit', 'Pozastaviť'],
    stop: ['Stop', 'Zastavit', 'Zastaviť'],
    next: ['Next', 'Další', 'Ďalší'],
    nextBlock: ['Next block', 'Další blok', 'Ďalší blok'],
    position: ['Position', 'Pozice', 'Pozícia'],
    pauseBetweenFiles: ['Stop before each file (multi-load games)', 'Zastavit před každým souborem (hry nahrávané po částech)',
      'Zastaviť pred každým súborom (hry nahrávané po častiach)'],
    keysHelp: ['Keys: Space play/pause, ← → previous/next block, Esc stop.',
      'Klávesy: mezerník přehrát/pozastavit, ← → předchozí/další blok, Esc zastavit.',
      'Klávesy: medzerník prehrať/pozastaviť, ← → predošlý/ďalší blok, Esc zastaviť.'],
    keepScreenOn: ["This browser cannot keep the screen on: set the screen not to lock while a tape plays, or the sound may stop.",
      'Tento prohlížeč neumí udržet obrazovku zapnutou: nastavte, aby se během nahrávání nezamykala, jinak může zvuk přestat hrát.',
      'Tento prehliadač nevie udržať obrazovku zapnutú: nastavte, aby sa počas nahrávania nezamykala, inak môže zvuk prestať hrať.'],
    recordingHeading: ['Digitise a cassette', 'Digitalizovat kazetu', 'Digitalizovať kazetu'],
    recordings: ['Recordings', 'Nahrávky', 'Nahrávky'],
    recordingHelp: ['Several recordings of one cassette are merged into one tape: each block is taken from the takes that read it.',
      'Více nahrávek jedné kazety se spojí do jedné pásky: každý blok se vezme ze záznamů, ze kterých se přečetl.',
      'Viac nahrávok jednej kazety sa spojí do jednej pásky: každý blok sa vezme zo záznamov, z ktorých sa prečítal.'],
    decoding: ['Decoding', 'Dekódování', 'Dekódovanie'],
    detect: ['Detect', 'Rozpoznat', 'Rozpoznať'],
    pmdEither: ['PMD 85, either speed', 'PMD 85, obě rychlosti', 'PMD 85, obe rýchlosti'],
    phase: ['Phase', 'Fáze', 'Fáza'],
    normal: ['Normal', 'Normální', 'Normálna'],
    reversed: ['Reversed', 'Obrácená', 'Obrátená'],
    captureName: ['Name of a line-in capture', 'Jméno nahrávky z linkového vstupu', 'Meno nahrávky z linkového vstupu'],
    captureNameHelp: ['Empty: named by the date and time', 'Prázdné: pojmenuje se datem a časem', 'Prázdne: pomenuje sa dátumom a časom'],
    recordingGroup: ['Recording', 'Nahrávání', 'Nahrávanie'],
    record: ['Record from line-in', 'Nahrávat z linkového vstupu', 'Nahrávať z linkového vstupu'],
    recordTake: ['Record another take from line-in', 'Nahrát další záznam z linkového vstupu', 'Nahrať ďalší záznam z linkového vstupu'],
    stopRecording: ['Stop recording', 'Zastavit nahrávání', 'Zastaviť nahrávanie'],
    addTake: ['Add another take', 'Přidat další záznam', 'Pridať ďalší záznam'],
    downloadImage: ['Download tape image', 'Stáhnout obraz pásky', 'Stiahnuť obraz pásky'],
    downloadReport: ['Download report', 'Stáhnout zprávu', 'Stiahnuť správu'],
    inputLevel: ['Input level', 'Úroveň vstupu', 'Úroveň vstupu'],
    openOffered: ['Open it as a tape image', 'Otevřít jako obraz pásky', 'Otvoriť ako obraz pásky'],
    blocksFound: ['Blocks found', 'Nalezené bloky', 'Nájdené bloky'],
    legendTakes: ['The takes, numbered in the order opened, whose bytes the block holds; recovered: pieced together byte by byte, disputed: whole copies differ and most agree with these.',
      'Záznamy (číslované v pořadí otevření), z jejichž bajtů blok je; poskládán: složen bajt po bajtu, sporný: celé kopie se liší a většina souhlasí s těmito.',
      'Záznamy (číslované v poradí otvorenia), z ktorých bajtov blok je; poskladaný: zložený bajt po bajte, sporný: celé kópie sa líšia a väčšina súhlasí s týmito.'],
    legendTime: ['Where the block starts and ends in the recording; with several takes, in the first one named under Takes.',
      'Kde blok v nahrávce začíná a končí; u více záznamů v prvním uvedeném ve sloupci Záznamy.',
      'Kde blok v nahrávke začína a končí; pri viacerých záznamoch v prvom uvedenom v stĺpci Záznamy.'],
    legendProtocol: ['How it was recorded: PMD 85 at normal or double speed, or Mato.', 'Jak byl nahrán: PMD 85 normální nebo dvojnásobnou rychlostí, nebo Mato.',
      'Ako bol nahraný: PMD 85 normálnou alebo dvojnásobnou rýchlosťou, alebo Mato.'],
    legendChecksums: ['OK when the block is whole. Unknown bytes lay under a dropout, uncertain ones were read in doubt, missing ones a body cut short lacks; for a damaged block a plot shows the signal around each run of them.',
      'OK, když je blok celý. Nepřečtené bajty ležely pod výpadkem signálu, nejisté se přečetly s pochybnostmi, chybějící v příliš krátkém těle nejsou; u poškozeného bloku graf ukáže signál kolem každého jejich úseku.',
      'OK, keď je blok celý. Neprečítané bajty ležali pod výpadkom signálu, neisté sa prečítali s pochybnosťami, chýbajúce v prikrátkom tele nie sú; pri poškodenom bloku graf ukáže signál okolo každého ich úseku.'],
    programOutput: ['Program output', 'Výstup programu', 'Výstup programu'],
    faultHce: ['Header checksum error: the header (name, type, addresses) may be wrong',
      'Chyba součtu hlavičky: hlavička (jméno, typ, adresy) může být chybná',
      'Chyba súčtu hlavičky: hlavička (meno, typ, adresy) môže byť chybná'],
    faultBce: ["Body checksum error: some of the body's bytes are wrong", 'Chyba součtu těla: některé bajty těla bloku jsou chybné',
      'Chyba súčtu tela: niektoré bajty tela bloku sú chybné'],
    faultBle: ['Body length error: the body is shorter or longer than its header says',
      'Chyba délky těla: tělo je kratší nebo delší, než říká hlavička',
      'Chyba dĺžky tela: telo je kratšie alebo dlhšie, ako hovorí hlavička'],
    // The listing's notes below a decoded block, in its words.
    bytesUnknown: [{ one: '{n} unknown byte', other: '{n} unknown bytes' },
      { one: '{n} nepřečtený bajt', few: '{n} nepřečtené bajty', other: '{n} nepřečtených bajtů' },
      { one: '{n} neprečítaný bajt', few: '{n} neprečítané bajty', other: '{n} neprečítaných bajtov' }],
    bytesUncertain: [{ one: '{n} uncertain byte', other: '{n} uncertain bytes' },
      { one: '{n} nejistý bajt', few: '{n} nejisté bajty', other: '{n} nejistých bajtů' },
      { one: '{n} neistý bajt', few: '{n} neisté bajty', other: '{n} neistých bajtov' }],
    bytesMissing: [{ one: '{n} missing byte', other: '{n} missing bytes' },
      { one: '{n} chybějící bajt', few: '{n} chybějící bajty', other: '{n} chybějících bajtů' },
      { one: '{n} chýbajúci bajt', few: '{n} chýbajúce bajty', other: '{n} chýbajúcich bajtov' }],
    bytesDisputed: [{ one: '{n} disputed byte', other: '{n} disputed bytes' },
      { one: '{n} sporný bajt', few: '{n} sporné bajty', other: '{n} sporných bajtů' },
      { one: '{n} sporný bajt', few: '{n} sporné bajty', other: '{n} sporných bajtov' }],
    faultOnTape: ['takes {takes} read every byte alike: the fault is on the tape',
      'záznamy {takes} přečetly všechny bajty shodně: chyba je přímo na pásce',
      'záznamy {takes} prečítali všetky bajty rovnako: chyba je priamo na páske'],
    ok: ['OK', 'OK', 'OK'],
    playBlock: ['Play block {n}', 'Přehrát blok {n}', 'Prehrať blok {n}'],
    playFromHere: ['Play from here', 'Hrát odsud', 'Hrať odtiaľto'],
    playFromBlock: ['Play from here: block {n}', 'Hrát odsud: blok {n}', 'Hrať odtiaľto: blok {n}'],
    blocksOf: ['Blocks of {name}', 'Bloky v {name}', 'Bloky v {name}'],
    blocksOfTape: ['Blocks of the tape', 'Bloky pásky', 'Bloky pásky'],
    // Messages of the tape side.
    somethingWrong: ['Something went wrong: {error}', 'Něco se pokazilo: {error}', 'Niečo sa pokazilo: {error}'],
    opened: [{ one: '{name}: {n} block.', other: '{name}: {n} blocks.' },
      { one: '{name}: {n} blok.', few: '{name}: {n} bloky.', many: '{name}: {n} bloku.', other: '{name}: {n} bloků.' },
      { one: '{name}: {n} blok.', few: '{name}: {n} bloky.', many: '{name}: {n} bloku.', other: '{name}: {n} blokov.' }],
    makingWav: ['Making the WAV…', 'Vytvářím WAV…', 'Vytváram WAV…'],
    wavTooBig: ['The page keeps at most {size} of WAV: choose fewer blocks or a shorter gap, or use tonbrix.',
      'Stránka udrží nejvýš {size} WAV: vyberte méně bloků nebo kratší mezeru, nebo použijte tonbrix.',
      'Stránka udrží najviac {size} WAV: vyberte menej blokov alebo kratšiu medzeru, alebo použite tonbrix.'],
    wavMade: ['{name}: {time}, {size}.', '{name}: {time}, {size}.', '{name}: {time}, {size}.'],
    nothingChosen: ['No block is chosen: tick a block or write a block list.', 'Není vybrán žádný blok: zaškrtněte blok nebo napište seznam bloků.',
      'Nie je vybraný žiadny blok: zaškrtnite blok alebo napíšte zoznam blokov.'],
    bitsPerSecond: ['{bits} bits per second', '{bits} bitů za sekundu', '{bits} bitov za sekundu'],
    underLimit: ["under the monitors' limit of about {limit}", 'pod hranicí monitoru asi {limit}', 'pod hranicou monitora asi {limit}'],
    emulatedResult: ['On an emulated PMD 85-2A and 85-3 this {result}.', 'Na emulovaném PMD 85-2A a 85-3 se to {result}.',
      'Na emulovanom PMD 85-2A a 85-3 sa to {result}.'],
    neverLoaded: ['never loaded', 'nikdy nenahrálo', 'nikdy nenahralo'],
    alwaysLoaded: ['always loaded', 'vždy nahrálo', 'vždy nahralo'],
    failedOneInSix: ['failed about one load in six', 'nenahrálo asi jednou z šesti pokusů', 'nenahralo asi raz zo šiestich pokusov'],
    chooseRates: ['Choose {rates}.', 'Zvolte {rates}.', 'Zvoľte {rates}.'],
    or: ['or', 'nebo', 'alebo'],
    matoNotTried: ['Mato loading was not tried at these rates.', 'Nahrávání do Mata se při těchto frekvencích nezkoušelo.',
      'Nahrávanie do Mata sa pri týchto frekvenciách neskúšalo.'],
    notInList: ['Block {n} is not in the block list: tick it to play it.', 'Blok {n} není v seznamu bloků: zaškrtněte ho, aby se přehrál.',
      'Blok {n} nie je v zozname blokov: zaškrtnite ho, aby sa prehral.'],
    noTape: ['No tape open.', 'Není otevřena žádná páska.', 'Nie je otvorená žiadna páska.'],
    ready: ['Ready to play.', 'Připraveno k přehrání.', 'Pripravené na prehranie.'],
    blockN: ['block {n}', 'blok {n}', 'blok {n}'],
    leadIn: ['the lead-in', 'úvodní tón', 'úvodný tón'],
    playing: ['Playing {what}.', 'Hraje {what}.', 'Hrá {what}.'],
    stoppedBeforeFile: ['Stopped before the next file ({what}): press Play when the machine asks for it.',
      'Zastaveno před dalším souborem ({what}): stiskněte Přehrát, až si o něj počítač řekne.',
      'Zastavené pred ďalším súborom ({what}): stlačte Prehrať, keď si oň počítač povie.'],
    pausedIn: ['Paused in {what}.', 'Pozastaveno: {what}.', 'Pozastavené: {what}.'],
    timeOf: ['{elapsed} of {total}', '{elapsed} z {total}', '{elapsed} z {total}'],
    tooLarge: ["'{name}' is {size}: larger than any tape image this page opens ({limit}).",
      '„{name}“ má {size}: víc než jakýkoli obraz pásky, který stránka otevře ({limit}).',
      '„{name}“ má {size}: viac než akýkoľvek obraz pásky, ktorý stránka otvorí ({limit}).'],
    reading: ["Reading '{name}'…", 'Čtu „{name}“…', 'Čítam „{name}“…'],
    isRecording: ["'{name}' is {kind}, not a tape image. Digitise it to get the tape image.",
      '„{name}“ je {kind}, ne obraz pásky. Digitalizujte ji a získáte obraz pásky.',
      '„{name}“ je {kind}, nie obraz pásky. Digitalizujte ju a získate obraz pásky.'],
    kindWav: ['a WAV recording', 'nahrávka WAV', 'nahrávka WAV'],
    kindAiff: ['an AIFF recording', 'nahrávka AIFF', 'nahrávka AIFF'],
    kindFlac: ['a FLAC recording', 'nahrávka FLAC', 'nahrávka FLAC'],
    kindOgg: ['an Ogg recording', 'nahrávka Ogg', 'nahrávka Ogg'],
    kindMp3: ['an MP3 recording', 'nahrávka MP3', 'nahrávka MP3'],
    isOther: ["'{name}' is {kind}, not a PMD 85 or Mato tape image.", '„{name}“ je {kind}, ne obraz pásky PMD 85 nebo Mato.',
      '„{name}“ je {kind}, nie obraz pásky PMD 85 alebo Mato.'],
    kindPicture: ['a picture ({format})', 'obrázek ({format})', 'obrázok ({format})'],
    kindArchive: ['an archive ({format})', 'archiv ({format})', 'archív ({format})'],
    kindDocument: ['a document ({format})', 'dokument ({format})', 'dokument ({format})'],
    kindText: ['a text file', 'textový soubor', 'textový súbor'],
    kindProgram: ['a program for a PC ({format})', 'program pro PC ({format})', 'program pre PC ({format})'],
    kindVideo: ['a video ({format})', 'video ({format})', 'video ({format})'],
    empty: ["'{name}' is empty: there is no tape image in it.", '„{name}“ je prázdný: není v něm žádný obraz pásky.',
      '„{name}“ je prázdny: nie je v ňom žiadny obraz pásky.'],
    notTape: ["'{name}' is not a PMD 85 or Mato tape image: not one block of it could be read. (What tonbrix says is under Program output.)",
      '„{name}“ není obraz pásky PMD 85 ani Mato: nepřečetl se z něj ani jeden blok. (Co říká tonbrix, je ve Výstupu programu.)',
      '„{name}“ nie je obraz pásky PMD 85 ani Mato: neprečítal sa z neho ani jeden blok. (Čo hovorí tonbrix, je vo Výstupe programu.)'],
    damagedZip: ["'{name}' is a damaged ZIP file ({error}).", '„{name}“ je poškozený soubor ZIP ({error}).', '„{name}“ je poškodený súbor ZIP ({error}).'],
    emptyZip: ["'{name}' holds no files.", '„{name}“ neobsahuje žádné soubory.', '„{name}“ neobsahuje žiadne súbory.'],
    cannotUnpack: ["'{entry}' in '{name}' cannot be unpacked ({error}).", '„{entry}“ v „{name}“ nelze rozbalit ({error}).',
      '„{entry}“ v „{name}“ sa nedá rozbaliť ({error}).'],
    openEntry: ['Open {name}', 'Otevřít {name}', 'Otvoriť {name}'],
    zipHolds: [{ one: "'{name}' holds {n} file: choose the tape image.", other: "'{name}' holds {n} files: choose the tape image." },
      { one: '„{name}“ obsahuje {n} soubor: vyberte obraz pásky.', few: '„{name}“ obsahuje {n} soubory: vyberte obraz pásky.',
        many: '„{name}“ obsahuje {n} souboru: vyberte obraz pásky.', other: '„{name}“ obsahuje {n} souborů: vyberte obraz pásky.' },
      { one: '„{name}“ obsahuje {n} súbor: vyberte obraz pásky.', few: '„{name}“ obsahuje {n} súbory: vyberte obraz pásky.',
        many: '„{name}“ obsahuje {n} súboru: vyberte obraz pásky.', other: '„{name}“ obsahuje {n} súborov: vyberte obraz pásky.' }],
    chooseInZip: ["Choose the tape image in '{name}'.", 'Vyberte obraz pásky v „{name}“.', 'Vyberte obraz pásky v „{name}“.'],
    badLink: ["'{link}' is not a link to a tape image.", '„{link}“ není odkaz na obraz pásky.', '„{link}“ nie je odkaz na obraz pásky.'],
    fetching: ['Fetching {url}…', 'Stahuji {url}…', 'Sťahujem {url}…'],
    unreachable: ['{url} could not be fetched: the server is out of reach or does not let other pages read its files (it sends no Access-Control-Allow-Origin). Save the file and open it here instead.',
      '{url} se nepodařilo stáhnout: server je nedostupný nebo nedovolí jiným stránkám číst své soubory (neposílá Access-Control-Allow-Origin). Uložte soubor a otevřete ho zde.',
      '{url} sa nepodarilo stiahnuť: server je nedostupný alebo nedovolí iným stránkam čítať svoje súbory (neposiela Access-Control-Allow-Origin). Uložte súbor a otvorte ho tu.'],
    refused: ['The server refused {url}: {status}.', 'Server odmítl {url}: {status}.', 'Server odmietol {url}: {status}.'],
    // Messages of the decoding side.
    decodingProgress: ["Decoding '{name}': {percent}", 'Dekóduji „{name}“: {percent}', 'Dekódujem „{name}“: {percent}'],
    emptyRecording: ["'{name}' is empty.", '„{name}“ je prázdný.', '„{name}“ je prázdny.'],
    tooLargeToDecode: ["'{name}' is {size}: more than this page can decode at once ({limit}) unless it is a WAV file. Convert it to WAV, use tonbrix-decode on a computer, or split the recording.",
      '„{name}“ má {size}: víc, než stránka najednou dekóduje ({limit}), pokud nejde o WAV. Převeďte ho na WAV, použijte tonbrix-decode na počítači, nebo nahrávku rozdělte.',
      '„{name}“ má {size}: viac, než stránka naraz dekóduje ({limit}), ak nejde o WAV. Preveďte ho na WAV, použite tonbrix-decode na počítači, alebo nahrávku rozdeľte.'],
    isTapeImage: ["'{name}' is a tape image, not a recording.", '„{name}“ je obraz pásky, ne nahrávka.', '„{name}“ je obraz pásky, nie nahrávka.'],
    cannotPlay: ["'{name}' is no recording this browser can play ({error}).", '„{name}“ není nahrávka, kterou by tento prohlížeč přehrál ({error}).',
      '„{name}“ nie je nahrávka, ktorú by tento prehliadač prehral ({error}).'],
    noLineIn: ['No line-in: {error}.', 'Linkový vstup není k dispozici: {error}.', 'Linkový vstup nie je k dispozícii: {error}.'],
    recordingFrom: ["Recording '{name}' from line-in.", 'Nahrávám „{name}“ z linkového vstupu.', 'Nahrávam „{name}“ z linkového vstupu.'],
    recordingFound: [{ one: "Recording '{name}' from line-in: {n} block found.", other: "Recording '{name}' from line-in: {n} blocks found." },
      { one: 'Nahrávám „{name}“ z linkového vstupu: nalezen {n} blok.', few: 'Nahrávám „{name}“ z linkového vstupu: nalezeny {n} bloky.',
        other: 'Nahrávám „{name}“ z linkového vstupu: nalezeno {n} bloků.' },
      { one: 'Nahrávam „{name}“ z linkového vstupu: nájdený {n} blok.', few: 'Nahrávam „{name}“ z linkového vstupu: nájdené {n} bloky.',
        other: 'Nahrávam „{name}“ z linkového vstupu: nájdených {n} blokov.' }],
    recordingTime: ['Recorded {time}', 'Nahráno {time}', 'Nahraté {time}'],
    clipping: ['Clipping: turn the deck down a little.', 'Přebuzeno: ztlumte magnetofon o trochu.', 'Prebudené: stlmte magnetofón o trochu.'],
    quiet: ['Quiet: if the tape is playing, turn the deck up.', 'Ticho: jestli páska hraje, zesilte magnetofon.', 'Ticho: ak páska hrá, zosilnite magnetofón.'],
    ofFullScale: ['{percent} of full scale', '{percent} plného rozsahu', '{percent} plného rozsahu'],
    decodedSummary: [{ one: '{what}: {n} block, {bytes} bytes of tape image.', other: '{what}: {n} blocks, {bytes} bytes of tape image.' },
      { one: '{what}: {n} blok, {bytes} bajtů obrazu pásky.', few: '{what}: {n} bloky, {bytes} bajtů obrazu pásky.',
        many: '{what}: {n} bloku, {bytes} bajtů obrazu pásky.', other: '{what}: {n} bloků, {bytes} bajtů obrazu pásky.' },
      { one: '{what}: {n} blok, {bytes} bajtov obrazu pásky.', few: '{what}: {n} bloky, {bytes} bajtov obrazu pásky.',
        many: '{what}: {n} bloku, {bytes} bajtov obrazu pásky.', other: '{what}: {n} blokov, {bytes} bajtov obrazu pásky.' }],
    takesMerged: [{ one: '{n} take merged', other: '{n} takes merged' },
      { one: '{n} záznam spojen', few: '{n} záznamy spojeny', many: '{n} záznamu spojeno', other: '{n} záznamů spojeno' },
      { one: '{n} záznam spojený', few: '{n} záznamy spojené', many: '{n} záznamu spojených', other: '{n} záznamov spojených' }],
    mergedCaption: ['Blocks of the tape, merged from {n} takes', 'Bloky pásky spojené z {n} záznamů', 'Bloky pásky spojené z {n} záznamov'],
    recovered: ['recovered', 'poskládán', 'poskladaný'],
    disputed: ['disputed', 'sporný', 'sporný'],
    takeCaption: ['Blocks found in take {n}, {name}', 'Bloky nalezené v záznamu {n}, {name}', 'Bloky nájdené v zázname {n}, {name}'],
    newCassette: ['New cassette', 'Nová kazeta', 'Nová kazeta'],
    cancelDecoding: ['Cancel decoding', 'Zrušit dekódování', 'Zrušiť dekódovanie'],
    decodingCancelled: ['Decoding cancelled.', 'Dekódování zrušeno.', 'Dekódovanie zrušené.'],
    confirmDiscardTakes: [{ one: 'Discard the take decoded so far and start a new cassette?', other: 'Discard the {n} takes decoded so far and start a new cassette?' },
      { one: 'Zahodit dosud dekódovaný záznam a začít novou kazetu?', few: 'Zahodit {n} dosud dekódované záznamy a začít novou kazetu?', other: 'Zahodit {n} dosud dekódovaných záznamů a začít novou kazetu?' },
      { one: 'Zahodiť doteraz dekódovaný záznam a začať novú kazetu?', few: 'Zahodiť {n} doteraz dekódované záznamy a začať novú kazetu?', other: 'Zahodiť {n} doteraz dekódovaných záznamov a začať novú kazetu?' }],
    capturesCaption: ['Line-in recordings kept in this browser until you save or discard them:',
      'Nahrávky z linkového vstupu, které prohlížeč uchová, dokud je neuložíte nebo nezahodíte:',
      'Nahrávky z linkového vstupu, ktoré prehliadač uchová, kým ich neuložíte alebo nezahodíte:'],
    captureKept: ['{name}, {time}', '{name}, {time}', '{name}, {time}'],
    saveCapture: ['Save as WAV', 'Uložit jako WAV', 'Uložiť ako WAV'],
    saveCaptureNamed: ['Save as WAV: {name}', 'Uložit jako WAV: {name}', 'Uložiť ako WAV: {name}'],
    discardCapture: ['Discard', 'Zahodit', 'Zahodiť'],
    discardCaptureNamed: ['Discard: {name}', 'Zahodit: {name}', 'Zahodiť: {name}'],
    confirmDiscardCapture: ["Discard the recording '{name}' for good?", 'Nahrávku „{name}“ nadobro zahodit?', 'Nahrávku „{name}“ natrvalo zahodiť?'],
    // The program's exits that the page explains in its own words, by their code.
    statusDamagedBlocks: ['Some blocks are damaged: the tape image holds what could be read of them.',
      'Některé bloky jsou poškozené: obraz pásky obsahuje to, co se z nich dalo přečíst.',
      'Niektoré bloky sú poškodené: obraz pásky obsahuje to, čo sa z nich dalo prečítať.'],
    statusEndedEarly: ['The recording ended early: the blocks after its end are lost.',
      'Nahrávka skončila předčasně: bloky za jejím koncem chybí.',
      'Nahrávka sa skončila predčasne: bloky za jej koncom chýbajú.'],
    statusBlockMayBeMissing: ['A block may be missing: the tape image holds the blocks that were found.',
      'Možná chybí blok: obraz pásky obsahuje nalezené bloky.',
      'Možno chýba blok: obraz pásky obsahuje nájdené bloky.'],
    statusForeignTake: ['A take holds another tape: the tape image holds the blocks of the others.',
      'Jeden ze záznamů je z jiné kazety: obraz pásky obsahuje bloky ostatních záznamů.',
      'Jeden zo záznamov je z inej kazety: obraz pásky obsahuje bloky ostatných záznamov.'],
    recordingEndedEarly: ["Recording '{name}' ended early at {at}: decoded the {frames} sample frames it holds.",
      'Nahrávka „{name}“ skončila předčasně v čase {at}: dekódováno {frames} vzorků, které obsahuje.',
      'Nahrávka „{name}“ sa skončila predčasne v čase {at}: dekódovaných {frames} vzoriek, ktoré obsahuje.'],
    blockMayBeMissing: ['A block may be missing at {at}: frames go on there without a leader.',
      'V čase {at} možná chybí blok: pokračují tam data bez zaváděcího tónu.',
      'V čase {at} možno chýba blok: pokračujú tam dáta bez zavádzacieho tónu.'],
    takeForeign: [{ one: 'Take {take} ({name}) holds another tape: its block {blocks} contradicts the other takes; it is left out.',
      other: 'Take {take} ({name}) holds another tape: its blocks {blocks} contradict the other takes; it is left out.' },
    { one: 'Záznam {take} ({name}) je z jiné kazety: jeho blok {blocks} odporuje ostatním záznamům; je vynechán.',
      other: 'Záznam {take} ({name}) je z jiné kazety: jeho bloky {blocks} odporují ostatním záznamům; je vynechán.' },
    { one: 'Záznam {take} ({name}) je z inej kazety: jeho blok {blocks} odporuje ostatným záznamom; je vynechaný.',
      other: 'Záznam {take} ({name}) je z inej kazety: jeho bloky {blocks} odporujú ostatným záznamom; je vynechaný.' }],
    takeForeignMerged: [{ one: 'Take {take} ({name}) holds another tape: its block {blocks} contradicts the other takes; merged all the same.',
      other: 'Take {take} ({name}) holds another tape: its blocks {blocks} contradict the other takes; merged all the same.' },
    { one: 'Záznam {take} ({name}) je z jiné kazety: jeho blok {blocks} odporuje ostatním záznamům; přesto je spojen s nimi.',
      other: 'Záznam {take} ({name}) je z jiné kazety: jeho bloky {blocks} odporují ostatním záznamům; přesto je spojen s nimi.' },
    { one: 'Záznam {take} ({name}) je z inej kazety: jeho blok {blocks} odporuje ostatným záznamom; aj tak je spojený s nimi.',
      other: 'Záznam {take} ({name}) je z inej kazety: jeho bloky {blocks} odporujú ostatným záznamom; aj tak je spojený s nimi.' }],
    takeLone: ['Take {n} ({name}) shares no block with the other takes.',
      'Záznam {n} ({name}) nemá s ostatními záznamy žádný společný blok.',
      'Záznam {n} ({name}) nemá s ostatnými záznamami žiadny spoločný blok.'],
    statusWriteOutput: ['The result could not be written: the page ran out of room for it.',
      'Výsledek nešlo zapsat: stránce na něj nezbylo místo.', 'Výsledok sa nedal zapísať: stránke naň nezostalo miesto.'],
    // The plot of a damaged block: each run of bytes in doubt, named by its state as the
    // listing names it (unknown, uncertain, missing).
    plotName: ['Signal of block {n} from {from} to {to}, the damage marked from {start} to {end}',
      'Signál bloku {n} od {from} do {to}, poškození vyznačeno od {start} do {end}',
      'Signál bloku {n} od {from} do {to}, poškodenie vyznačené od {start} do {end}'],
    plotNameTake: ['Signal of block {n} in take {take} from {from} to {to}, the damage marked from {start} to {end}',
      'Signál bloku {n} v záznamu {take} od {from} do {to}, poškození vyznačeno od {start} do {end}',
      'Signál bloku {n} v zázname {take} od {from} do {to}, poškodenie vyznačené od {start} do {end}'],
    plotInTake: ['in take {n} ({name})', 'v záznamu {n} ({name})', 'v zázname {n} ({name})'],
    plotInRecording: ['in the recording', 'v nahrávce', 'v nahrávke'],
    damageDropout: [{ one: 'Block {block}: a dropout {recording} from {from} to {to}; {n} byte was not read.',
      other: 'Block {block}: a dropout {recording} from {from} to {to}; {n} bytes were not read.' },
    { one: 'Blok {block}: výpadek signálu {recording} od {from} do {to}; {n} bajt se nepřečetl.',
      few: 'Blok {block}: výpadek signálu {recording} od {from} do {to}; {n} bajty se nepřečetly.',
      other: 'Blok {block}: výpadek signálu {recording} od {from} do {to}; {n} bajtů se nepřečetlo.' },
    { one: 'Blok {block}: výpadok signálu {recording} od {from} do {to}; {n} bajt sa neprečítal.',
      few: 'Blok {block}: výpadok signálu {recording} od {from} do {to}; {n} bajty sa neprečítali.',
      other: 'Blok {block}: výpadok signálu {recording} od {from} do {to}; {n} bajtov sa neprečítalo.' }],
    damageUncertain: [{ one: 'Block {block}: {n} byte read in doubt {recording} from {from} to {to}: noise or a change of speed broke its frame.',
      other: 'Block {block}: {n} bytes read in doubt {recording} from {from} to {to}: noise or a change of speed broke their frames.' },
    { one: 'Blok {block}: {n} bajt přečten s pochybnostmi {recording} od {from} do {to}: šum nebo změna rychlosti porušily jeho rámec.',
      few: 'Blok {block}: {n} bajty přečteny s pochybnostmi {recording} od {from} do {to}: šum nebo změna rychlosti porušily jejich rámce.',
      other: 'Blok {block}: {n} bajtů přečteno s pochybnostmi {recording} od {from} do {to}: šum nebo změna rychlosti porušily jejich rámce.' },
    { one: 'Blok {block}: {n} bajt prečítaný s pochybnosťami {recording} od {from} do {to}: šum alebo zmena rýchlosti porušili jeho rámec.',
      few: 'Blok {block}: {n} bajty prečítané s pochybnosťami {recording} od {from} do {to}: šum alebo zmena rýchlosti porušili ich rámce.',
      other: 'Blok {block}: {n} bajtov prečítaných s pochybnosťami {recording} od {from} do {to}: šum alebo zmena rýchlosti porušili ich rámce.' }],
    damageMissing: [{ one: 'Block {block}: {n} byte missing {recording} from {from}: the block ended early.',
      other: 'Block {block}: {n} bytes missing {recording} from {from}: the block ended early.' },
    { one: 'Blok {block}: chybí {n} bajt {recording} od {from}: blok skončil předčasně.',
      few: 'Blok {block}: chybí {n} bajty {recording} od {from}: blok skončil předčasně.',
      other: 'Blok {block}: chybí {n} bajtů {recording} od {from}: blok skončil předčasně.' },
    { one: 'Blok {block}: chýba {n} bajt {recording} od {from}: blok sa skončil predčasne.',
      few: 'Blok {block}: chýbajú {n} bajty {recording} od {from}: blok sa skončil predčasne.',
      other: 'Blok {block}: chýba {n} bajtov {recording} od {from}: blok sa skončil predčasne.' }],
    damageCount: ['Damage {n} of {of}', 'Poškození {n} z {of}', 'Poškodenie {n} z {of}'],
    damagePrevious: ['Previous', 'Předchozí', 'Predchádzajúce'],
    damagePreviousNamed: ['Previous damage in block {n}', 'Předchozí poškození v bloku {n}', 'Predchádzajúce poškodenie v bloku {n}'],
    damageNext: ['Next', 'Další', 'Ďalšie'],
    damageNextNamed: ['Next damage in block {n}', 'Další poškození v bloku {n}', 'Ďalšie poškodenie v bloku {n}'],
    // Connecting the machine.
    connectHeading: ['Connecting the machine', 'Připojení k počítači', 'Pripojenie k počítaču'],
    wiringPlayer: ['Phone or PC', 'Telefon nebo PC', 'Telefón alebo PC'],
    wiringOut: ['headphones → tape input', 'sluchátka → vstup z magnetofonu', 'slúchadlá → vstup z magnetofónu'],
    wiringPc: ['PC: line-in', 'PC: linkový vstup', 'PC: linkový vstup'],
    wiringDeck: ['Deck or machine', 'Magnetofon či počítač', 'Magnetofón či počítač'],
    wiringBack: ['tape output → line-in', 'výstup na magnetofon → linkový vstup', 'výstup na magnetofón → linkový vstup'],
    wiringCaption: ["Playing: the phone's or PC's headphone output to the machine's tape input. Digitising: the deck's or the machine's tape output to the PC's line-in.",
      'Nahrávání do počítače: výstup pro sluchátka telefonu nebo PC do vstupu z magnetofonu. Digitalizace: výstup magnetofonu nebo počítače do linkového vstupu PC.',
      'Nahrávanie do počítača: výstup na slúchadlá telefónu alebo PC do vstupu z magnetofónu. Digitalizácia: výstup magnetofónu alebo počítača do linkového vstupu PC.'],
    loadHeading: ['Loading a file into the machine', 'Nahrání souboru do počítače', 'Nahranie súboru do počítača'],
    connectCable: ["Connect the headphone output of the phone or PC to the machine's tape input (the socket for the tape recorder). Which pins of that socket carry the input is in the machine's manual.",
      'Propojte výstup pro sluchátka telefonu nebo PC se vstupem z magnetofonu na počítači (konektor pro magnetofon). Které vývody konektoru jsou vstup, najdete v příručce k počítači.',
      'Prepojte výstup na slúchadlá telefónu alebo PC so vstupom z magnetofónu na počítači (konektor pre magnetofón). Ktoré vývody konektora sú vstup, nájdete v príručke k počítaču.'],
    connectLevel: ['Volume at maximum, sound effects off. The emulated PMD 85-2A and 85-3 loaded at every Amplitude from 10 to 127 and in both phases, so leave those as they are at first.',
      'Hlasitost na maximum, zvukové efekty vypnout. Emulované PMD 85-2A a 85-3 nahrály při každé amplitudě od 10 do 127 i v obou fázích, takže je zpočátku neměňte.',
      'Hlasitosť na maximum, zvukové efekty vypnúť. Emulované PMD 85-2A a 85-3 nahrali pri každej amplitúde od 10 do 127 aj v oboch fázach, takže ich spočiatku nemeňte.'],
    connectType: ["On the PMD 85 monitor type MGLD and the file's number as the NR column shows it, in decimal, then press Play here. For file 05/? that is:",
      'Na monitoru PMD 85 napište MGLD a číslo souboru, jak ho ukazuje sloupec NR, desítkově, a pak zde stiskněte Přehrát. Pro soubor 05/? je to:',
      'Na monitore PMD 85 napíšte MGLD a číslo súboru, ako ho ukazuje stĺpec NR, desiatkovo, a potom tu stlačte Prehrať. Pre súbor 05/? je to:'],
    connectTypeQ: ["After a reset the monitor loaded only files of type ? (the type its own MGSV nn aaaa bbbb NAME writes); it waited in vain for a file of type B. Such a file is loaded by the program it belongs to: see that program's manual.",
      'Po resetu monitor nahrál jen soubory typu ? (ten typ zapisuje jeho vlastní MGSV nn aaaa bbbb JMÉNO); na soubor typu B čekal marně. Takový soubor nahrává program, ke kterému patří: viz jeho příručku.',
      'Po resete monitor nahral len súbory typu ? (ten typ zapisuje jeho vlastné MGSV nn aaaa bbbb MENO); na súbor typu B čakal márne. Taký súbor nahráva program, ku ktorému patrí: pozri jeho príručku.'],
    connectMato: ["Mato: its loading commands were not tried here; see Mato's manual.",
      'Mato: jeho příkazy pro nahrávání se zde nezkoušely; viz příručku k Matu.',
      'Mato: jeho príkazy na nahrávanie sa tu neskúšali; pozri príručku k Matu.'],
    modelsCaption: ['What loaded on an emulated PMD 85-2A and 85-3 with their own monitor ROMs',
      'Co nahrály emulované PMD 85-2A a 85-3 s vlastními ROM monitoru', 'Čo nahrali emulované PMD 85-2A a 85-3 s vlastnými ROM monitora'],
    modelsRate: ['Sample rate', 'Frekvence', 'Frekvencia'],
    loads: ['loaded', 'nahrálo', 'nahralo'],
    neverLoads: ['never loaded', 'nikdy nenahrálo', 'nikdy nenahralo'],
    failsOneInSix: ['failed about one load in six', 'asi jednou z šesti selhalo', 'asi raz zo šiestich zlyhalo'],
    modelsOther: ['Other PMD 85 models and Mato were not tried: start with the default rate and normal speed.',
      'Jiné modely PMD 85 ani Mato se nezkoušely: začněte s výchozí frekvencí a normální rychlostí.',
      'Iné modely PMD 85 ani Mato sa neskúšali: začnite s predvolenou frekvenciou a normálnou rýchlosťou.'],
    backHeading: ['The way back: digitising a cassette', 'Cesta zpět: digitalizace kazety', 'Cesta späť: digitalizácia kazety'],
    connectBack: ["Connect the tape output of the deck (or of the machine) to the PC's line-in, press Record from line-in and play the tape. Set the deck's volume so that the Input level meter says neither Clipping nor Quiet.",
      'Propojte výstup magnetofonu (nebo počítače) s linkovým vstupem PC, stiskněte Nahrávat z linkového vstupu a pusťte kazetu. Hlasitost magnetofonu nastavte tak, aby ukazatel úrovně vstupu nehlásil přebuzení ani ticho.',
      'Prepojte výstup magnetofónu (alebo počítača) s linkovým vstupom PC, stlačte Nahrávať z linkového vstupu a pustite kazetu. Hlasitosť magnetofónu nastavte tak, aby ukazovateľ úrovne vstupu nehlásil prebudenie ani ticho.'],
  };

  function fromBrowser() {
    for (const tag of navigator.languages ?? [navigator.language]) {
      const base = String(tag).toLowerCase().split('-')[0];
      if (LANGUAGES.includes(base)) {
        return base;
      }
    }
    return 'en';
  }

  function remembered() {
    try {
      const chosen = localStorage.getItem(STORAGE_KEY);
      return LANGUAGES.includes(chosen) ? chosen : null;
    } catch {
      return null; // storage refused, e.g. in a private window of some browsers
    }
  }

  let lang = remembered() ?? fromBrowser();
  const listeners = [];

  function fill(text, params) {
    return text.replace(/\{(\w+)\}/g, (whole, key) => (key in params ? String(params[key]) : whole));
  }

  // The text `key` in the page's language with `params` put in; a count is `params.n`.
  function t(key, params = {}) {
    const entry = TEXTS[key];
    if (!entry) {
      throw new Error(`No text ${key}`);
    }
    let text = entry[LANGUAGES.indexOf(lang)];
    if (typeof text === 'object') {
      const form = new Intl.PluralRules(lang).select(params.n);
      text = text[form] ?? text.other;
    }
    const shown = { ...params };
    if (typeof shown.n === 'number') {
      shown.n = number(shown.n);
    }
    return fill(text, shown);
  }

  function number(value, digits) {
    const options = digits === undefined ? {} :
      { minimumFractionDigits: digits, maximumFractionDigits: digits };
    return value.toLocaleString(lang, options);
  }

  function megabytes(bytes) {
    return `${number(bytes / (1024 * 1024), 1)} MB`;
  }

  function percent(fraction) {
    return new Intl.NumberFormat(lang, { style: 'percent', maximumFractionDigits: 0 }).format(fraction);
  }

  // "a, b or c" in the language's way.
  function list(items) {
    return new Intl.ListFormat(lang, { type: 'disjunction' }).format(items);
  }

  // Static texts carry data-t (their text), data-t-label (aria-label) or data-t-title.
  function translateDocument() {
    document.documentElement.lang = lang;
    document.title = t('title');
    for (const element of document.querySelectorAll('[data-t]')) {
      element.textContent = t(element.dataset.t);
    }
    for (const element of document.querySelectorAll('[data-t-label]')) {
      element.setAttribute('aria-label', t(element.dataset.tLabel));
    }
  }

  function setLanguage(chosen) {
    if (!LANGUAGES.includes(chosen)) {
      return;
    }
    lang = chosen;
    try {
      localStorage.setItem(STORAGE_KEY, chosen);
    } catch {
      // Not remembered, but the page still switches.
    }
    translateDocument();
    listeners.forEach((listener) => listener());
  }

  // `listener` redraws what the page drew in the language before.
  function onChange(listener) {
    listeners.push(listener);
  }

  // Shows `key` in the element `id` and shows it again in the new language after a switch.
  const told = new Map();
  function tell(id, key, params) {
    tellWith(id, () => t(key, params));
  }
  // The same with a function that draws the text.
  function tellWith(id, text) {
    told.set(id, text);
    document.getElementById(id).textContent = text();
  }
  function forget(id) {
    told.delete(id);
  }
  // What the element `id` shows now, to be shown again later by the function returned.
  function keep(id) {
    const element = document.getElementById(id);
    const text = told.get(id);
    const shown = element.textContent;
    return () => {
      if (text) {
        told.set(id, text);
        element.textContent = text();
      } else {
        told.delete(id);
        element.textContent = shown;
      }
    };
  }
  onChange(() => {
    for (const [id, text] of told) {
      document.getElementById(id).textContent = text();
    }
  });

  tonbrix.i18n = {
    LANGUAGES, t, number, megabytes, percent, list, setLanguage, onChange, tell, tellWith, forget, keep,
    translateDocument, get lang() { return lang; },
  };
})();
