-- Países con los que opera la aplicación.
CREATE TABLE IF NOT EXISTS paises (
  codigo   TEXT PRIMARY KEY,   -- ISO 3166-1 alfa-2
  nombre   TEXT NOT NULL,
  moneda   TEXT NOT NULL
)
GO
INSERT OR REPLACE INTO paises (codigo, nombre, moneda) VALUES
  ('AR', 'Argentina', 'ARS'),
  ('BR', 'Brasil', 'BRL'),
  ('CL', 'Chile', 'CLP'),
  ('PY', 'Paraguay', 'PYG'),
  ('UY', 'Uruguay', 'UYU'),
  ('ES', 'España', 'EUR')
GO
