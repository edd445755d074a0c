-- Schema of the operator databases (SQLite).
--
-- Each "-- database: NAME" line opens the statements of one database file:
-- clients = DatiDV.mdb, visits = VisiteDV.mdb, indices = IndiciDV.mdb.
-- A statement ends with a semicolon at the end of a line.
--
-- Column types:
--   TEXT     texts as typed (names, codes, marks "S"/" ", dates kept as text);
--   INTEGER  whole numbers (client codes, links between clients);
--   REAL     amounts, percentages, and dates kept as day numbers: days since
--            30/12/1899, the time of day as the fraction (0 = no date).
-- Every key column is NOT NULL: a key must always name its row.
-- The primary key of each table is the index the program calls "primaria".
-- Files use a rollback journal (never WAL), so that a closed file is
-- complete on its own and can be copied as a whole.

-- database: clients
PRAGMA journal_mode = DELETE;

CREATE TABLE Clienti (
    CliCodice        INTEGER NOT NULL PRIMARY KEY,  -- client code
    CliRagsoc        TEXT,                          -- name (35 characters are shown)
    CliRagsocEstesa  TEXT,                          -- full name
    CliIndirizzo     TEXT,
    CliLocalita      TEXT,
    CliCap           TEXT,
    CliProvincia     TEXT,
    CliNazione       TEXT,
    CliTelefono      TEXT,
    CliTelefono1     TEXT,
    CliTelefono2     TEXT,
    CliTelefono3     TEXT,
    CliPartitaIva    TEXT,
    CliCodiceFiscale TEXT,
    CliCategoria     TEXT,
    CliAgevolazione  TEXT,
    CliSesso         TEXT,
    CliNatoA         TEXT,
    CliNatoIl        REAL,                          -- date of birth, day number
    CliDocumTipo     TEXT,
    CliDocumento     TEXT,
    CliDocRilascA    TEXT,
    CliDocRilascIl   TEXT,                          -- issue date of the document, as text
    CliContoCo       TEXT,
    CliVisite        TEXT,                          -- visits marks, 13 characters
    CliAbbinamento   INTEGER,                       -- code of a linked client, 0 when none
    CliUltimaVisita  REAL,                          -- date of the last visit, day number
    CliOraVisita     TEXT                           -- time of the last visit, "hh:mm"
);

-- database: visits
PRAGMA journal_mode = DELETE;

CREATE TABLE TabAzioni (
    TbaCodice      TEXT NOT NULL PRIMARY KEY,       -- action code
    TbaDescrizione TEXT
);

CREATE TABLE Azioni (
    AzCliente INTEGER NOT NULL,                     -- client code
    AzCodice  TEXT NOT NULL,                        -- action code (TabAzioni)
    AzDelete  TEXT DEFAULT ' ',                     -- "S" when marked for deletion
    PRIMARY KEY (AzCliente, AzCodice)
);

CREATE TABLE VisiteN (
    VsCliente     INTEGER NOT NULL,                 -- client code
    VsData        REAL NOT NULL,                    -- date of the visit, day number
    VsVersato     REAL,                             -- amounts
    VsPrelevato   REAL,
    VsTrasferitoP REAL,
    VsTrasferitoN REAL,
    VsSaldo       REAL,
    VsDataSaldo   REAL,                             -- date of the balance, day number
    VsPercAss     REAL,                             -- percentages
    VsPercTir     REAL,
    VsTipoElenco  TEXT,
    PRIMARY KEY (VsCliente, VsData)
);

CREATE TABLE Appuntamenti (
    ApCliente INTEGER NOT NULL,                     -- client code
    ApData    REAL NOT NULL,                        -- date and time, day number
    ApAzione  TEXT NOT NULL,                        -- action code (TabAzioni)
    ApNote    TEXT,
    ApStato   TEXT,
    ApCausa   TEXT,
    ApDelete  TEXT DEFAULT ' ',                     -- "S" when marked for deletion
    PRIMARY KEY (ApCliente, ApData, ApAzione)
);

-- database: indices
PRAGMA journal_mode = DELETE;

-- Reference indices (rates, quotations) by code and date.
CREATE TABLE Indici (
    IndCodice      TEXT NOT NULL,                   -- index code
    IndData        REAL NOT NULL,                   -- date of the value, day number
    IndDescrizione TEXT,
    IndValore      REAL,
    PRIMARY KEY (IndCodice, IndData)
);
