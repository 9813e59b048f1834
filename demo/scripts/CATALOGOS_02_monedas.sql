-- Monedas y su cantidad de decimales.
CREATE TABLE IF NOT EXISTS monedas (
  codigo     TEXT PRIMARY KEY,   -- ISO 4217
  nombre     TEXT NOT NULL,
  decimales  INTEGER NOT NULL DEFAULT 2
)
GO
INSERT OR REPLACE INTO monedas (codigo, nombre, decimales) VALUES
  ('ARS', 'Peso argentino', 2),
  ('BRL', 'Real brasileño', 2),
  ('CLP', 'Peso chileno', 0),
  ('PYG', 'Guaraní', 0),
  ('UYU', 'Peso uruguayo', 2),
  ('EUR', 'Euro', 2),
  ('USD', 'Dólar estadounidense', 2)
GO
CREATE INDEX IF NOT EXISTS ix_paises_moneda ON paises (moneda)
go
