-- Parámetros generales del sistema.
CREATE TABLE IF NOT EXISTS parametros (
  clave  TEXT PRIMARY KEY,
  valor  TEXT NOT NULL
)
GO
INSERT OR REPLACE INTO parametros (clave, valor) VALUES
  ('version_esquema', '2.0.1'),
  ('moneda_base', 'ARS'),
  ('dias_retencion_log', '90')
GO
