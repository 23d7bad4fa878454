-- The demo company DEMO: its record, the numbering settings and its three
-- journals. kavelo-db sql loads this into a database that kavelo-db create made.

-- Accounts carry balances at lengths 1, 2 and 3 (4, 43, 430) and at their own
-- length (4300001).
INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Distribuciones Peñalara, S.L.', '1110000');

-- New entries take the next number of their journal's counter.
INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);

-- The general journal has already used entries 1 to 24 this year.
INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'Diario general', 25);
INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (2, 'Diario de ventas', 1);
INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (3, 'Diario de compras', 1);
