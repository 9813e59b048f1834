SELECT ñandú;
GO
