-- Usuarios internos y sus perfiles.
CREATE TABLE IF NOT EXISTS perfiles (
  id      INTEGER PRIMARY KEY,
  nombre  TEXT NOT NULL UNIQUE
)
GO
CREATE TABLE IF NOT EXISTS usuarios (
  login     TEXT PRIMARY KEY,
  nombre    TEXT NOT NULL,
  perfil_id INTEGER NOT NULL REFERENCES perfiles (id),
  activo    INTEGER NOT NULL DEFAULT 1
)
GO
INSERT OR REPLACE INTO perfiles (id, nombre) VALUES (1, 'Administrador'), (2, 'Operador'), (3, 'Consulta')
GO
INSERT OR REPLACE INTO usuarios (login, nombre, perfil_id, activo) VALUES
  ('admin', 'Administrador del sistema', 1, 1),
  ('mgarcia', 'María García', 2, 1),
  ('jperez', 'Juan Pérez', 2, 1),
  ('auditoria', 'Auditoría externa', 3, 0)
GO
