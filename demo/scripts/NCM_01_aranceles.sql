-- Nomenclatura común: posiciones arancelarias y alícuotas.
CREATE TABLE IF NOT EXISTS aranceles (
  posicion     TEXT PRIMARY KEY,
  descripcion  TEXT NOT NULL,
  alicuota     REAL NOT NULL
)
GO
INSERT OR REPLACE INTO aranceles (posicion, descripcion, alicuota) VALUES
  ('0201.10.00', 'Carne bovina en canales, fresca o refrigerada', 10.0),
  ('0901.11.10', 'Café sin tostar, en grano', 10.0),
  ('1001.19.00', 'Trigo duro, los demás', 0.0),
  ('2204.21.00', 'Vino en recipientes de hasta 2 l', 20.0),
  ('8471.30.12', 'Computadoras portátiles', 16.0)
GO
